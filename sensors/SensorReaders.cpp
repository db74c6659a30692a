#include "sensors/SensorReaders.h"

#include "platform/Platform.h"
#include "sensors/SensorSources.h"

#include <cmath>

namespace {

bool plausibleTemperature(double x) { return x > -200 && x < 160; }
bool plausibleVoltage(double y) { return y > 0.1 && y < 3.3; }

// Sources without plausibility limits still refuse what no sensor can
// measure (NaN, infinities, 1e308): such a value would poison the mean,
// trip any limit and make labels hundreds of digits long.
bool physicalTemperature(double x) { return x >= -100 && x <= 300; }
bool physicalVoltage(double y) { return y >= 0 && y <= 20; }

void keepPhysical(double value, bool (*physical)(double), double *slot) {
  if (physical(value))
    *slot = value;
}

void readSysTool(ByteSpan bytes, const QString &t, const QString &v,
                 double *temperature, double *vcore) {
  for (const SysToolRecord &r : parseSysTool(bytes)) {
    if (r.state == 1)
      continue;
    if (r.name == t)
      keepPhysical(r.value, physicalTemperature, temperature);
    else if (r.name == v)
      keepPhysical(r.value, physicalVoltage, vcore);
  }
}

void readSpeedFan(ByteSpan bytes, int t, int v, double *temperature,
                  double *vcore) {
  SpeedFanValues values = parseSpeedFan(bytes);
  if (t >= 0 && t < values.temperatures.size()) {
    double x = values.temperatures[t];
    if (plausibleTemperature(x) && x != 0)
      *temperature = x;
  }
  if (v >= 0 && v < values.voltages.size() &&
      plausibleVoltage(values.voltages[v]))
    *vcore = values.voltages[v];
}

void readEverestSensors(const QVector<EverestSensor> &sensors,
                        const QString &label, bool (*physical)(double),
                        double *slot) {
  for (const EverestSensor &s : sensors) {
    if (s.label != label)
      continue;
    if (s.value == EVEREST_TRIAL)
      *slot = NO_READING;
    else
      keepPhysical(s.value.toDouble(), physical, slot);
  }
}

void readMbm5(ByteSpan bytes, int t, int v, double *temperature,
              double *vcore) {
  QVector<Mbm5Slot> slotList = parseMbm5(bytes);
  if (t >= 0 && t < MBM5_TEMPERATURE_SLOTS && t < slotList.size() &&
      plausibleTemperature(slotList[t].value))
    *temperature = slotList[t].value;
  if (v < 0 || v >= MBM5_VOLTAGE_SLOTS)
    return;
  int k = MBM5_TEMPERATURE_SLOTS + v;
  if (k < slotList.size() && plausibleVoltage(slotList[k].value))
    *vcore = slotList[k].value;
}

QString valueText(double value, bool (*physical)(double),
                  QString (*format)(double)) {
  return physical(value) ? format(value) : QString("-");
}

QString everestText(const QString &value, bool (*physical)(double),
                    QString (*format)(double)) {
  return value == EVEREST_TRIAL ? value
                                : valueText(value.toDouble(), physical, format);
}

} // namespace

void readLayout(int source, ByteSpan bytes, const QVariant &tempSensor,
                const QVariant &voltSensor, double *temperature,
                double *vcore) {
  switch (source) {
  case SOURCE_SYSTOOL:
    readSysTool(bytes, tempSensor.toString(), voltSensor.toString(),
                temperature, vcore);
    break;
  case SOURCE_SPEEDFAN:
    readSpeedFan(bytes, tempSensor.toInt(), voltSensor.toInt(), temperature,
                 vcore);
    break;
  case SOURCE_EVEREST: {
    EverestSensors sensors = parseEverest(bytes);
    readEverestSensors(sensors.temperatures, tempSensor.toString(),
                       physicalTemperature, temperature);
    readEverestSensors(sensors.voltages, voltSensor.toString(), physicalVoltage,
                       vcore);
    break;
  }
  case SOURCE_MBM5:
    readMbm5(bytes, tempSensor.toInt(), voltSensor.toInt(), temperature, vcore);
    break;
  default:
    break;
  }
}

bool readSharedMemorySource(int source, const QVariant &tempSensor,
                            const QVariant &voltSensor, double *temperature,
                            double *vcore) {
  auto view = platform().openSharedMemory(sharedMemoryName(source));
  if (!view)
    return false;
  readLayout(source, {view->data(), view->size()}, tempSensor, voltSensor,
             temperature, vcore);
  return true;
}

SensorList listLayout(int source, ByteSpan bytes) {
  SensorList list;
  list.present = true;
  switch (source) {
  case SOURCE_SYSTOOL: {
    QVector<SysToolRecord> records = parseSysTool(bytes);
    for (int i = 0; i < records.size(); ++i) {
      const SysToolRecord &r = records[i];
      if (r.state != 1 && r.kind == 2)
        list.temperatures.append(
            {r.name, valueText(r.value, physicalTemperature, formatTemperature),
             i});
      else if (r.state != 1 && r.kind == 3)
        list.voltages.append(
            {r.name, valueText(r.value, physicalVoltage, formatVoltage), i});
    }
    break;
  }
  case SOURCE_SPEEDFAN: {
    SpeedFanValues values = parseSpeedFan(bytes);
    for (int i = 0; i < values.temperatures.size(); ++i) {
      QString text = formatTemperature(values.temperatures[i]);
      list.temperatures.append({text, text, i});
    }
    for (int i = 0; i < values.voltages.size(); ++i) {
      QString text = formatVoltage(values.voltages[i]);
      list.voltages.append({text, text, i});
    }
    break;
  }
  case SOURCE_EVEREST: {
    EverestSensors sensors = parseEverest(bytes);
    for (int i = 0; i < sensors.temperatures.size(); ++i) {
      const EverestSensor &s = sensors.temperatures[i];
      list.temperatures.append(
          {s.label,
           everestText(s.value, physicalTemperature, formatTemperature), i});
    }
    for (int i = 0; i < sensors.voltages.size(); ++i) {
      const EverestSensor &s = sensors.voltages[i];
      list.voltages.append(
          {s.label, everestText(s.value, physicalVoltage, formatVoltage), i});
    }
    break;
  }
  case SOURCE_MBM5: {
    QVector<Mbm5Slot> slotList = parseMbm5(bytes);
    for (int k = 0; k < slotList.size(); ++k) {
      const Mbm5Slot &s = slotList[k];
      if (s.value == MBM5_EMPTY_SLOT)
        continue;
      if (k < MBM5_TEMPERATURE_SLOTS)
        list.temperatures.append(
            {s.name, valueText(s.value, physicalTemperature, formatTemperature),
             k});
      else
        list.voltages.append(
            {s.name, valueText(s.value, physicalVoltage, formatVoltage),
             k - MBM5_TEMPERATURE_SLOTS});
    }
    break;
  }
  default:
    list.present = false;
    break;
  }
  return list;
}

SensorList absentSource(const QString &why) {
  SensorList list;
  list.whyAbsent = why;
  return list;
}

SensorList listSharedMemorySource(int source) {
  SharedMemoryRefusal refusal = SharedMemoryRefusal::None;
  auto view = platform().openSharedMemory(sharedMemoryName(source), &refusal);
  if (view)
    return listLayout(source, {view->data(), view->size()});
  const QString name = sharedMemoryName(source);
  if (refusal == SharedMemoryRefusal::ForeignOwner)
    return absentSource(QString::fromUtf8("« %1 » appartient à un autre "
                                          "utilisateur : il est ignoré.")
                            .arg(name));
  if (refusal == SharedMemoryRefusal::NotRegularFile)
    return absentSource(QString::fromUtf8("« %1 » n'est pas une mémoire "
                                          "partagée ordinaire : il est ignoré.")
                            .arg(name));
  return absentSource(QString::fromUtf8(
      "Le programme qui publie ces valeurs n'est pas lancé."));
}

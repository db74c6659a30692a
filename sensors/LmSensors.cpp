#include "sensors/LmSensors.h"

#include "platform/Platform.h"
#include "sensors/SensorSources.h"

#include <cmath>

namespace {

QString sensorName(const SensorInput &input) {
  return QString::fromStdString(input.chip) + ' ' +
         QString::fromStdString(input.label);
}

// The chip's name holds no blank, the label may: the first blank parts them.
bool readNamed(const QString &name, SensorKind kind, double *value) {
  const int blank = name.indexOf(' ');
  if (blank <= 0)
    return false;
  return platform().readSensorInput(name.left(blank).toStdString(),
                                    name.mid(blank + 1).toStdString(), kind,
                                    value);
}

// The limits of the other chip-reading sources: they keep a rail such as
// +12V, or a broken input, out of the statistics of Vcore and T° CPU.
bool plausibleTemperature(double x) { return x > -200 && x < 160; }
bool plausibleVoltage(double y) { return y > 0.1 && y < 3.3; }

QString valueText(const SensorInput &input) {
  if (std::isnan(input.value))
    return "-";
  return input.kind == SensorKind::Temperature ? formatTemperature(input.value)
                                               : formatVoltage(input.value);
}

bool processorChip(const std::string &chip) {
  for (const char *driver :
       {"k10temp", "zenpower", "k8temp", "coretemp", "via_cputemp"})
    if (chip == driver || chip.rfind(std::string(driver) + "-", 0) == 0)
      return true;
  return false;
}

} // namespace

int ReadLmSensorsSource(const QVariant &tempSensor, const QVariant &voltSensor,
                        double *temperature, double *vcore) {
  double x = 0, y = 0;
  const bool readT =
      readNamed(tempSensor.toString(), SensorKind::Temperature, &x);
  const bool readV = readNamed(voltSensor.toString(), SensorKind::Voltage, &y);
  if (readT && plausibleTemperature(x))
    *temperature = x;
  if (readV && plausibleVoltage(y))
    *vcore = y;
  // Listing every input costs a read of each: only when both reads failed.
  return readT || readV || !platform().sensorInputs().empty();
}

SensorList listLmSensors() {
  SensorList list;
  for (const SensorInput &input : platform().sensorInputs()) {
    QVector<SensorEntry> &entries = input.kind == SensorKind::Temperature
                                        ? list.temperatures
                                        : list.voltages;
    entries.append({sensorName(input), valueText(input), entries.size()});
  }
  if (list.temperatures.isEmpty() && list.voltages.isEmpty())
    return absentSource(QString::fromUtf8(
        "Aucun capteur hwmon sur cette machine (cas de la plupart des "
        "machines virtuelles)."));
  list.present = true;
  return list;
}

QString processorTemperatureSensor() {
  std::vector<SensorInput> temperatures;
  for (const SensorInput &input : platform().sensorInputs())
    if (input.kind == SensorKind::Temperature)
      temperatures.push_back(input);
  // Tctl first: it is never below Tdie, so the limit errs on the safe side.
  for (const char *label : {"Tctl", "Tdie", "Package id 0"})
    for (const SensorInput &input : temperatures)
      if (input.label == label && processorChip(input.chip))
        return sensorName(input);
  for (const SensorInput &input : temperatures)
    if (processorChip(input.chip) || QString::fromStdString(input.label)
                                         .contains("CPU", Qt::CaseInsensitive))
      return sensorName(input);
  return {};
}

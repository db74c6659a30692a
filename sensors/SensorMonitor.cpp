#include "sensors/SensorMonitor.h"

#include "sensors/LmSensors.h"
#include "sensors/SensorReaders.h"
#include "sensors/ThermalSensors.h"

void updateStatistics(double x, int n, double *minimum, double *mean,
                      double *maximum) {
  // The first value of a quantity starts all three: its mean instead of
  // averaging in the no-reading marker (it may appear only after other
  // samples were counted), its minimum and maximum because the starting
  // limits were never measured and a source without limits can read beyond
  // them.
  if (*mean == NO_READING) {
    *minimum = *mean = *maximum = x;
    return;
  }
  if (x < *minimum)
    *minimum = x;
  if (x > *maximum)
    *maximum = x;
  *mean = (n * *mean + x) / (n + 1);
}

int SensorMonitor::readSource(const SensorChoice &choice,
                              const AppendLog &appendLog) {
  switch (choice.Monitoring) {
  case SOURCE_SYSTOOL:
  case SOURCE_SPEEDFAN:
  case SOURCE_EVEREST:
  case SOURCE_MBM5:
    return readSharedMemorySource(choice.Monitoring, choice.TempSensor,
                                  choice.VoltSensor, &Temperature, &Vcore);
  case SOURCE_INTEL:
    return ReadIntelCoreSource(choice.TempSensor.toInt(), &Temperature, &Vcore,
                               appendLog);
  case SOURCE_K8:
    return ReadK8Source(choice.TempSensor.toInt(), &Temperature, &Vcore);
  case SOURCE_LMSENSORS:
    return ReadLmSensorsSource(choice.TempSensor, choice.VoltSensor,
                               &Temperature, &Vcore);
  default:
    return 0;
  }
}

int SensorMonitor::ReadSensors(const SensorChoice &choice, bool testRunning,
                               const SensorDisplay &display) {
  if (!readSource(choice, display.appendLog))
    return 0;
  int n = SampleCount;
  QString temperature = "-";
  if (Temperature != NO_READING) {
    if (testRunning)
      updateStatistics(Temperature, n, &TemperatureMin, &TemperatureAvg,
                       &TemperatureMax);
    temperature = formatTemperature(Temperature);
  }
  QString vcore = "-";
  if (Vcore != NO_READING) {
    if (testRunning)
      updateStatistics(Vcore, n, &VcoreMin, &VcoreAvg, &VcoreMax);
    vcore = formatVoltage(Vcore);
  }
  display.show(temperature, vcore);
  if (testRunning && (Temperature != NO_READING || Vcore != NO_READING)) {
    SampleCount = n + 1;
    if (choice.ExportTXT)
      Samples.AddSample(Temperature, Vcore, n, choice.Monitoring);
  }
  return 1;
}

bool SensorMonitor::MaxTempReached(int reading, int MaxTemp,
                                   bool testRunning) const {
  return testRunning && MaxTemp >= 0 && reading == 1 &&
         Temperature != NO_READING && Temperature >= double(MaxTemp);
}

namespace {
SensorStatistics statistics(double minimum, double mean, double maximum) {
  if (mean == NO_READING || maximum < minimum)
    return {};
  return {true, minimum, mean, maximum};
}
} // namespace

SensorStatistics SensorMonitor::TemperatureStatistics() const {
  return statistics(TemperatureMin, TemperatureAvg, TemperatureMax);
}

SensorStatistics SensorMonitor::VcoreStatistics() const {
  return statistics(VcoreMin, VcoreAvg, VcoreMax);
}

void SensorMonitor::EndSensorRun(const SensorChoice &choice,
                                 const AppendLog &appendLog) {
  if (choice.Monitoring == SOURCE_NONE)
    return;
  if (const SensorStatistics v = VcoreStatistics(); v.read)
    appendLog(QString::asprintf("Vcore : %.2f V (%.2f à %.2f)", v.mean,
                                v.minimum, v.maximum));
  if (const SensorStatistics t = TemperatureStatistics(); t.read)
    appendLog(QString::asprintf("T° CPU : %.1f °C (%.1f à %.1f)", t.mean,
                                t.minimum, t.maximum));
  if (choice.ExportTXT)
    Samples.WriteRemainder(SampleCount, choice.Monitoring);
  ResetSensors();
}

void SensorMonitor::ResetSensors() {
  SampleCount = 0;
  Vcore = NO_READING;
  VcoreMin = 3.3;
  VcoreAvg = NO_READING;
  VcoreMax = 0.1;
  Temperature = NO_READING;
  TemperatureMin = 160;
  TemperatureAvg = NO_READING;
  TemperatureMax = -200;
}

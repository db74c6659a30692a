#pragma once

#include "sensors/MonitoringLog.h"
#include "sensors/SensorSources.h"
#include "sensors/SensorStatistics.h"

#include <QString>
#include <QVariant>

#include <functional>

// The settings that one reading depends on.
struct SensorChoice {
  int Monitoring = SOURCE_NONE;
  QVariant TempSensor;
  QVariant VoltSensor;
  bool ExportTXT = false;
};

// Where a reading is shown: the texts of the two values ("55.0 °C", "-"),
// and the log pane.
struct SensorDisplay {
  std::function<void(const QString &temperature, const QString &vcore)> show;
  AppendLog appendLog;
};

// The sensor readings of a run and the steps that use them: the reading of
// each sensor tick, the statistics of a run, the temperature limit and the
// end-of-run summary. The run controller derives from it.
class SensorMonitor {
public:
  int SampleCount = 0;
  double Vcore = NO_READING;
  double VcoreMin = 3.3;
  double VcoreAvg = NO_READING;
  double VcoreMax = 0.1;
  double Temperature = NO_READING;
  double TemperatureMin = 160;
  double TemperatureAvg = NO_READING;
  double TemperatureMax = -200;
  MonitoringLog Samples;

  // One reading, display and sample step (the body of GetSensorsValue).
  // 1 when the source was reached and the values shown; 0 when there is no
  // source, it cannot be reached or the Intel reading thread did not start.
  int ReadSensors(const SensorChoice &choice, bool testRunning,
                  const SensorDisplay &display);

  // The sensor tick's limit: true when a running test must stop because the
  // temperature reached MaxTemp (a negative MaxTemp is no limit).
  bool MaxTempReached(int reading, int MaxTemp, bool testRunning) const;

  // The run's statistics so far, as the summary lines give them.
  SensorStatistics TemperatureStatistics() const;
  SensorStatistics VcoreStatistics() const;

  // End of a run, inside StopTest: the summary lines, the samples still in
  // the ring, then the reset. Nothing at all without a source.
  void EndSensorRun(const SensorChoice &choice, const AppendLog &appendLog);

  // The values of construction, taken again after every run.
  void ResetSensors();

private:
  int readSource(const SensorChoice &choice, const AppendLog &appendLog);
};

// Statistics of one quantity: n is the run's sample count before this
// sample, shared by temperature and voltage.
void updateStatistics(double x, int n, double *minimum, double *mean,
                      double *maximum);

// The run's side of sensor monitoring: the one-second reading, the
// temperature limit and the run's summary.

#include "stress/RunController.h"

#include "stress/RunMeasure.h"

void RunController::SetSensors(const SensorChoice &choice, int maxTemp) {
  SuspendSensors();
  Choice = choice;
  MaxTemp = maxTemp;
  if (unsigned(Choice.Monitoring) > SOURCE_LAST)
    Choice.Monitoring = SOURCE_NONE;
  if (Choice.Monitoring != SOURCE_NONE)
    SensorTimer = startTimer(1000);
}

void RunController::SuspendSensors() {
  if (SensorTimer != 0)
    killTimer(SensorTimer);
  // Qt gives freed identifiers to later timers: a stale one would take the
  // run timer's ticks for sensor ticks.
  SensorTimer = 0;
}

int RunController::GetSensorsValue() {
  return ReadSensors(Choice, Running(),
                     {[this](const QString &temperature, const QString &vcore) {
                        emit sensorText(temperature, vcore);
                        emit sensorReading(Temperature, Vcore);
                      },
                      [this](const QString &line) { Log(line); }});
}

bool RunController::SensorTick() {
  const int reading = GetSensorsValue();
  return MaxTempReached(reading, MaxTemp, Running());
}

void RunController::TickSensors() {
  if (SensorTick())
    EndRunOnFailure({"Arrêt du test : température maximale atteinte !"},
                    COLOUR_STOPPED, TOOLTIP_FAILED, RunVerdict::Temperature);
}

// The statistics are the result's before the summary lines are made from
// them and the monitor forgets them.
void RunController::SensorRunEnded() {
  Outcome.temperature = TemperatureStatistics();
  Outcome.vcore = VcoreStatistics();
  EndSensorRun(Choice, [this](const QString &line) { Log(line); });
}

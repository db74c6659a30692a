#include "app/Vorsk.h"

#include "sensors/LmSensors.h"
#include "stress/EngineContract.h"
#include "stress/ThreadStress.h"

#include <QSettings>

// The main window's side of sensor monitoring.

namespace {
bool testRunning() { return stopFlagLowByte(&bStopTest) == 0; }
} // namespace

SensorChoice Vorsk::CurrentSensorChoice() const {
  return {Monitoring, TempSensor, VoltSensor, ExportTXT};
}

int Vorsk::GetSensorsValue() {
  return ReadSensors(CurrentSensorChoice(), testRunning(),
                     {ui.labelTemperature, ui.labelVcore,
                      [this](const QString &line) { AppendLog(line); }});
}

void Vorsk::ChooseFirstSensor(QSettings &settings) {
  const QString sensor = processorTemperatureSensor();
  if (sensor.isEmpty())
    return;
  Monitoring = SOURCE_LMSENSORS;
  TempSensor = sensor;
  settings.setValue("Monitoring", Monitoring);
  settings.setValue("TempSensor", TempSensor);
}

bool Vorsk::SensorTick() {
  int reading = GetSensorsValue();
  return MaxTempReached(reading, MaxTemp, testRunning());
}

void Vorsk::SensorRunEnded() {
  EndSensorRun(CurrentSensorChoice(),
               [this](const QString &line) { AppendLog(line); });
}

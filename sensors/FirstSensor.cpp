#include "sensors/FirstSensor.h"

#include "sensors/LmSensors.h"

#include <QSettings>

void chooseFirstSensor(QSettings &settings, SensorChoice *choice) {
  if (settings.contains("Monitoring"))
    return;
  const QString sensor = processorTemperatureSensor();
  if (sensor.isEmpty())
    return;
  choice->Monitoring = SOURCE_LMSENSORS;
  choice->TempSensor = sensor;
  settings.setValue("Monitoring", choice->Monitoring);
  settings.setValue("TempSensor", choice->TempSensor);
}

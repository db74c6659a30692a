#include "settings/FirstSensor.h"

#include "sensors/LmSensors.h"
#include "settings/SettingsKeys.h"

#include <QSettings>

void chooseFirstSensor(QSettings &settings, SensorChoice *choice) {
  if (settings.contains(Key::Monitoring))
    return;
  const QString sensor = processorTemperatureSensor();
  if (sensor.isEmpty())
    return;
  choice->Monitoring = SOURCE_LMSENSORS;
  choice->TempSensor = sensor;
  settings.setValue(Key::Monitoring, choice->Monitoring);
  settings.setValue(Key::TempSensor, choice->TempSensor);
}

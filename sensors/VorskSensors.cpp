#include "app/Vorsk.h"

#include "sensors/LmSensors.h"

#include <QSettings>

// The main window's side of sensor monitoring: the first choice of a source.

void Vorsk::ChooseFirstSensor(QSettings &settings, SensorChoice *choice) {
  const QString sensor = processorTemperatureSensor();
  if (sensor.isEmpty())
    return;
  choice->Monitoring = SOURCE_LMSENSORS;
  choice->TempSensor = sensor;
  settings.setValue("Monitoring", choice->Monitoring);
  settings.setValue("TempSensor", choice->TempSensor);
}

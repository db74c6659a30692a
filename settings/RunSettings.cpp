#include "settings/RunSettings.h"

#include "settings/SettingsFile.h"
#include "settings/SettingsKeys.h"

RunSettings readRunSettings(const QSettings &settings) {
  RunSettings run;
  run.priority = readInt(settings, Key::Priority, DEFAULT_PRIORITY);
  run.duration = readInt(settings, Key::Duration, DEFAULT_DURATION);
  run.sensors.Monitoring =
      readInt(settings, Key::Monitoring, DEFAULT_MONITORING);
  run.sensors.TempSensor = settings.value(Key::TempSensor);
  run.sensors.VoltSensor = settings.value(Key::VoltSensor);
  run.sensors.ExportTXT = readBool(settings, Key::ExportTXT, DEFAULT_EXPORTTXT);
  run.maxTemp = readInt(settings, Key::MaxTemp, DEFAULT_MAXTEMP);
  return run;
}

#pragma once

#include "sensors/SensorMonitor.h"

class QSettings;

// The run's settings in Vorsk.ini, as stored: the priority and duration
// indexes, the sensor source with its sensors and the monitoring log, and the
// temperature limit (negative: none). Missing keys read as their defaults;
// the readers check the ranges they need.
struct RunSettings {
  int priority = 0;
  int duration = 0;
  SensorChoice sensors;
  int maxTemp = 0;
};
RunSettings readRunSettings(const QSettings &settings);

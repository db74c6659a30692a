#pragma once

#include "sensors/SensorMonitor.h"

class QSettings;

// The first start (no Monitoring key), in the window or headless: the
// processor's lm-sensors temperature when the machine has one, stored, so
// that the temperature limit can protect a new user.
void chooseFirstSensor(QSettings &settings, SensorChoice *choice);

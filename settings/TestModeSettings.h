#pragma once

#include "stress/TestModes.h"

class QSettings;

// The test mode in Vorsk.ini: TestMode (0 all processors, 1 one core at a
// time, 2 alternating load), CoreMinutes and CoreThreads. A value out of
// range reads as its default.
TestMode readTestMode(const QSettings &settings);
void writeTestMode(QSettings &settings, const TestMode &mode);

#pragma once

#include "stress/TestModes.h"
#include "stress/ThreadStress.h"

class QSettings;

// The test mode in Vorsk.ini: TestMode (0 all processors, 1 one core at a
// time, 2 alternating load), CoreMinutes and CoreThreads. A value out of
// range reads as its default.
TestMode readTestMode(const QSettings &settings);
void writeTestMode(QSettings &settings, const TestMode &mode);

// The engine's load in Vorsk.ini: Load (0 every unit of the processor, 1 the
// floating-point units alone). Any other value reads as 0.
EngineLoad readEngineLoad(const QSettings &settings);
void writeEngineLoad(QSettings &settings, EngineLoad load);

#include "settings/TestModeSettings.h"

#include "settings/SettingsFile.h"
#include "settings/SettingsKeys.h"

namespace {
const int MAX_CORE_MINUTES = 60;
}

TestMode readTestMode(const QSettings &settings) {
  TestMode mode;
  const int kind = readInt(settings, Key::TestMode, DEFAULT_TESTMODE);
  if (kind >= 0 && kind <= int(TestModeKind::Alternating))
    mode.kind = TestModeKind(kind);
  const int minutes = readInt(settings, Key::CoreMinutes, DEFAULT_COREMINUTES);
  mode.coreMinutes = minutes >= 1 && minutes <= MAX_CORE_MINUTES
                         ? minutes
                         : DEFAULT_COREMINUTES;
  mode.everyThread = readBool(settings, Key::CoreThreads, DEFAULT_CORETHREADS);
  return mode;
}

EngineLoad readEngineLoad(const QSettings &settings) {
  return readInt(settings, Key::Load, DEFAULT_LOAD) == 1
             ? EngineLoad::FloatingPoint
             : EngineLoad::Full;
}

void writeEngineLoad(QSettings &settings, EngineLoad load) {
  settings.setValue(Key::Load, load == EngineLoad::FloatingPoint ? 1 : 0);
}

void writeTestMode(QSettings &settings, const TestMode &mode) {
  settings.setValue(Key::TestMode, int(mode.kind));
  settings.setValue(Key::CoreMinutes, mode.coreMinutes);
  settings.setValue(Key::CoreThreads, mode.everyThread);
}

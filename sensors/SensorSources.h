#pragma once

#include <QString>

#include <functional>

// The value that stands for a missing temperature or voltage; every layer
// compares against exactly this value.
constexpr double NO_READING = 30000;

// Source codes, as stored under the settings key "Monitoring".
enum SensorSource {
  SOURCE_NONE = 0,
  SOURCE_SYSTOOL = 1,
  SOURCE_SPEEDFAN = 2,
  SOURCE_EVEREST = 3,
  SOURCE_MBM5 = 4,
  SOURCE_INTEL = 5,
  SOURCE_K8 = 6,
  SOURCE_LMSENSORS = 7,
  SOURCE_LAST = SOURCE_LMSENSORS, // a stored code above is taken as 0
};

// Name of the shared memory a monitoring program publishes, empty for the
// sources that are not read from shared memory.
const char *sharedMemoryName(int source);

// The texts a reading is shown with, in the window and in the options.
QString formatTemperature(double celsius); // "%.1f °C"
QString formatVoltage(double volts);       // "%.2f V"

// Appends one line to the log pane.
using AppendLog = std::function<void(const QString &line)>;

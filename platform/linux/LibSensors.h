#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

// The hardware-monitoring chips through lm-sensors' library, which reads the
// kernel's hwmon devices in /sys and applies the sensors configuration. The
// library keeps global state: one instance per process, used from the
// user-interface thread only.
class LibSensors {
public:
  LibSensors() = default;
  ~LibSensors();
  LibSensors(const LibSensors &) = delete;
  LibSensors &operator=(const LibSensors &) = delete;

  // Lets the library find the chips again at the next call.
  void rescan();
  std::vector<SensorInput> inputs();
  bool read(const std::string &chip, const std::string &label, SensorKind kind,
            double *value);

  // The configuration file to read instead of the system's at the next scan
  // (tests); empty for the system's.
  void setConfigFile(const std::string &path);

private:
  struct Input {
    SensorInput shown;
    const void *chip; // a sensors_chip_name of the library
    int subfeature;
  };

  void scanIfNeeded();
  void release();
  bool value(const Input &input, double *out) const;

  std::string configFile_;
  bool initialised_ = false;
  bool scanned_ = false;
  std::vector<Input> inputs_;
};

// The instance the Linux platform uses.
LibSensors &libSensors();

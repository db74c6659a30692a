#include "platform/linux/LibSensors.h"

#include <sensors/sensors.h>

#include <cmath>
#include <cstdio>
#include <map>

namespace {

std::string fullName(const sensors_chip_name *chip) {
  char name[256];
  if (sensors_snprintf_chip_name(name, sizeof name, chip) < 0)
    return chip->prefix;
  return name;
}

// The input subfeature of a temperature or voltage feature, or nullptr.
const sensors_subfeature *inputOf(const sensors_chip_name *chip,
                                  const sensors_feature *feature,
                                  SensorKind *kind) {
  switch (feature->type) {
  case SENSORS_FEATURE_TEMP:
    *kind = SensorKind::Temperature;
    return sensors_get_subfeature(chip, feature, SENSORS_SUBFEATURE_TEMP_INPUT);
  case SENSORS_FEATURE_IN:
    *kind = SensorKind::Voltage;
    return sensors_get_subfeature(chip, feature, SENSORS_SUBFEATURE_IN_INPUT);
  default:
    return nullptr;
  }
}

} // namespace

LibSensors::~LibSensors() { release(); }

void LibSensors::release() {
  inputs_.clear();
  if (initialised_)
    sensors_cleanup();
  initialised_ = false;
  scanned_ = false;
}

void LibSensors::rescan() { release(); }

void LibSensors::setConfigFile(const std::string &path) {
  configFile_ = path;
  release();
}

void LibSensors::scanIfNeeded() {
  if (scanned_)
    return;
  scanned_ = true;
  FILE *config = nullptr;
  if (!configFile_.empty() && !(config = std::fopen(configFile_.c_str(), "r")))
    return;
  // nullptr reads the system's configuration, as the sensors command does.
  initialised_ = sensors_init(config) == 0;
  if (config)
    std::fclose(config);
  if (!initialised_)
    return;

  std::vector<const sensors_chip_name *> chips;
  std::map<std::string, int> sharing;
  int n = 0;
  while (const sensors_chip_name *chip =
             sensors_get_detected_chips(nullptr, &n)) {
    chips.push_back(chip);
    ++sharing[chip->prefix];
  }
  for (const sensors_chip_name *chip : chips) {
    // The driver name survives a reboot that renumbers the hwmon devices;
    // the full name is needed only to tell apart chips of one driver.
    const std::string name =
        sharing[chip->prefix] > 1 ? fullName(chip) : chip->prefix;
    int f = 0;
    while (const sensors_feature *feature = sensors_get_features(chip, &f)) {
      SensorKind kind;
      const sensors_subfeature *input = inputOf(chip, feature, &kind);
      if (!input)
        continue;
      char *label = sensors_get_label(chip, feature);
      if (!label)
        continue;
      inputs_.push_back({{name, label, kind, 0}, chip, input->number});
      std::free(label);
    }
  }
}

bool LibSensors::value(const Input &input, double *out) const {
  double v = 0;
  if (sensors_get_value(static_cast<const sensors_chip_name *>(input.chip),
                        input.subfeature, &v) != 0)
    return false;
  *out = v;
  return true;
}

std::vector<SensorInput> LibSensors::inputs() {
  scanIfNeeded();
  std::vector<SensorInput> result;
  for (const Input &input : inputs_) {
    SensorInput shown = input.shown;
    if (!value(input, &shown.value))
      shown.value = std::nan("");
    result.push_back(shown);
  }
  return result;
}

bool LibSensors::read(const std::string &chip, const std::string &label,
                      SensorKind kind, double *out) {
  scanIfNeeded();
  for (const Input &input : inputs_)
    if (input.shown.kind == kind && input.shown.chip == chip &&
        input.shown.label == label)
      return value(input, out);
  return false;
}

LibSensors &libSensors() {
  static LibSensors instance;
  return instance;
}

#pragma once

// Minimum, mean and maximum of one sensor over a run; read is false when the
// run had no reading of it.
struct SensorStatistics {
  bool read = false;
  double minimum = 0, mean = 0, maximum = 0;
};

#pragma once

#include <array>
#include <cstdint>

// One sample of the monitoring log, in hundredths of a degree and
// thousandths of a volt; -32768 when the value does not fit (NO_READING
// included).
struct SensorSample {
  int16_t temperature = 0;
  int16_t voltage = 0;
};

constexpr int SAMPLE_BLOCK = 240;

// Converts value * scale, truncated toward zero, into a sample field.
int16_t sampleField(double value, double scale);

// The samples of a run, written to "Monitoring.txt" in the working directory
// in blocks of SAMPLE_BLOCK: the first write of a run empties the file, later
// writes append. Every write opens and closes the file; failures are silent
// and lose the block. source picks the line format: temperature only for
// the processor sources 5 and 6.
class MonitoringLog {
public:
  // n is the number of samples counted before this one.
  void AddSample(double temperature, double vcore, int n, int source);
  // Writes the samples of the unfinished block; count is the run's total.
  void WriteRemainder(int count, int source);

private:
  void write(bool append, int firstNumber, int entries, int source) const;

  std::array<SensorSample, SAMPLE_BLOCK> samples_{};
};

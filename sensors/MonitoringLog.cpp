#include "sensors/MonitoringLog.h"

#include "platform/Platform.h"
#include "sensors/SensorSources.h"

#include <QByteArray>

namespace {
const char *const FILE_NAME = "Monitoring.txt";
}

int16_t sampleField(double value, double scale) {
  double product = value * scale;
  // Written so that NaN also lands on the out-of-range value.
  if (!(product > -32769 && product < 32768))
    return INT16_MIN;
  return static_cast<int16_t>(product);
}

void MonitoringLog::AddSample(double temperature, double vcore, int n,
                              int source) {
  int p = n % SAMPLE_BLOCK;
  samples_[p] = {sampleField(temperature, 100), sampleField(vcore, 1000)};
  if (p != SAMPLE_BLOCK - 1)
    return;
  write(n + 1 != SAMPLE_BLOCK, n + 1 - (SAMPLE_BLOCK - 1), SAMPLE_BLOCK,
        source);
}

void MonitoringLog::WriteRemainder(int count, int source) {
  int p = (count - 1) % SAMPLE_BLOCK; // -1 for a run without samples
  if (p == SAMPLE_BLOCK - 1)
    return;
  write(count > SAMPLE_BLOCK - 1, count - p, p + 1, source);
}

void MonitoringLog::write(bool append, int firstNumber, int entries,
                          int source) const {
  bool twoColumns = source == SOURCE_INTEL || source == SOURCE_K8;
  QByteArray lines;
  for (int i = 0; i < entries; ++i) {
    const SensorSample &s = samples_[i];
    QString line =
        twoColumns
            ? QString::asprintf("%d\t%.2f\n", firstNumber + i,
                                s.temperature / 100.0)
            : QString::asprintf("%d\t%.2f\t%.3f\n", firstNumber + i,
                                s.temperature / 100.0, s.voltage / 1000.0);
    lines += line.toLatin1();
  }
  if (append)
    appendOwnFile(FILE_NAME, lines.toStdString());
  else
    replaceOwnFile(FILE_NAME, lines.toStdString());
}

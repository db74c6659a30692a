#include "stress/VerifiedArithmetic.h"

#include <QStringList>

#include <cmath>

WorkerCounters TotalVerified(const std::vector<ThreadHandle> &workers) {
  WorkerCounters total;
  for (ThreadHandle worker : workers) {
    WorkerCounters counters;
    if (!worker || !platform().getWorkerCounters(worker, &counters))
      continue;
    for (int p = 0; p < WORKER_PATH_COUNT; ++p)
      total.verifiedFlops[p] += counters.verifiedFlops[p];
  }
  return total;
}

namespace {

// One decimal in the smallest unit whose rounded figure stays below 1000.
QString flopText(double flops) {
  static const char *const units[] = {"Gflop", "Tflop", "Pflop"};
  double scale = 1e9;
  int unit = 0;
  while (unit < 2 && std::round(flops / scale * 10) >= 10000) {
    scale *= 1000;
    ++unit;
  }
  return QString::asprintf("%.1f %s", flops / scale, units[unit]);
}

} // namespace

QString VerifiedArithmeticLine(const WorkerCounters &total) {
  double sum = 0;
  for (uint64_t flops : total.verifiedFlops)
    sum += double(flops);
  QString line = "Calculs vérifiés : " + flopText(sum);
  QStringList shares;
  for (int p = WORKER_PATH_COUNT - 1; p >= 0; --p) {
    if (total.verifiedFlops[p] == 0)
      continue;
    const double percent =
        std::round(100 * double(total.verifiedFlops[p]) / sum);
    shares << QString("%1 %2").arg(workerPathName(p),
                                   percent < 1 ? QString("< 1 %")
                                               : QString("%1 %").arg(percent));
  }
  if (!shares.isEmpty())
    line += " (" + shares.join(", ") + ")";
  return line;
}

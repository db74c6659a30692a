#include "stress/VerifiedArithmetic.h"

#include <QStringList>

#include <cmath>
#include <cstring>

WorkerCounters TotalVerified(const std::vector<WorkerResult> &workers) {
  WorkerCounters total;
  for (const WorkerResult &worker : workers) {
    for (int p = 0; p < WORKER_PATH_COUNT; ++p)
      total.verifiedFlops[p] += worker.verified.verifiedFlops[p];
    for (int w = 0; w < WORKER_WORKLOAD_COUNT; ++w)
      total.verifiedWork[w] += worker.verified.verifiedWork[w];
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

// "12.3 G opérations", "45.6 Go": one decimal, a prefix for every 1000.
QString workText(double amount, const char *unit) {
  static const char *const prefixes[] = {"", "k", "M", "G", "T", "P", "E"};
  int prefix = 0;
  while (prefix < 6 && std::round(amount * 10) >= 10000) {
    amount /= 1000;
    ++prefix;
  }
  if (std::strcmp(unit, "bytes") == 0)
    return QString::asprintf("%.1f %so", amount, prefixes[prefix]);
  const char *word = std::strcmp(unit, "products") == 0   ? "produits"
                     : std::strcmp(unit, "messages") == 0 ? "messages"
                                                          : "opérations";
  return QString::asprintf("%.1f %s%s%s", amount, prefixes[prefix],
                           prefix ? " " : "", word);
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
  QStringList work;
  for (int w = 0; w < WORKER_WORKLOAD_COUNT; ++w)
    if (total.verifiedWork[w])
      work << QString("%1 %2").arg(
          workloadNames(w).text,
          workText(double(total.verifiedWork[w]), workloadNames(w).unit));
  if (!work.isEmpty())
    line += " ; " + work.join(", ");
  return line;
}

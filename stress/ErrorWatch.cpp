#include "stress/ErrorWatch.h"

namespace {
uint64_t rise(uint64_t before, uint64_t after) {
  return after > before ? after - before : 0;
}
} // namespace

std::vector<ErrorCounter> errorRises(const std::vector<ErrorCounter> &start,
                                     const std::vector<ErrorCounter> &now) {
  std::vector<ErrorCounter> rises;
  for (const ErrorCounter &before : start)
    for (const ErrorCounter &after : now) {
      if (after.source != before.source)
        continue;
      const ErrorCounter r{before.source,
                           rise(before.corrected, after.corrected),
                           rise(before.uncorrected, after.uncorrected)};
      if (r.corrected || r.uncorrected)
        rises.push_back(r);
    }
  return rises;
}

void ErrorWatch::Start() { start_ = platform().hardwareErrorCounters(); }

bool ErrorWatch::Rose() const { return !Rises().empty(); }

std::vector<ErrorCounter> ErrorWatch::Rises() const {
  return errorRises(start_, platform().hardwareErrorCounters());
}

QStringList hardwareErrorLines(bool watched,
                               const std::vector<ErrorCounter> &rises) {
  if (!watched)
    return {"Erreurs matérielles non surveillées : aucun compteur "
            "d'erreurs (EDAC, machine-check) disponible."};
  QStringList lines;
  for (const ErrorCounter &r : rises)
    lines << QString::asprintf("Erreurs matérielles pendant le test (%s) : "
                               "%llu corrigée(s), %llu non corrigée(s).",
                               r.source.c_str(),
                               static_cast<unsigned long long>(r.corrected),
                               static_cast<unsigned long long>(r.uncorrected));
  return lines;
}

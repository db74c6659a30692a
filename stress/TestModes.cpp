#include "stress/TestModes.h"

#include <QStringList>

#include <map>
#include <numeric>
#include <utility>

namespace {
// Seconds of run, then of pause, in turn: no rhythm for the power delivery
// to settle into.
const int AlternatingPhases[] = {4, 2, 2, 3, 6, 4, 3, 5, 8, 3, 5, 6};
} // namespace

std::vector<std::vector<int>> coresOf(const SystemInfo &info) {
  std::vector<std::vector<int>> cores;
  std::map<std::pair<uint32_t, uint32_t>, size_t> byId;
  const bool known = info.Apic.size() == info.Processor.size();
  for (size_t i = 0; i < info.Processor.size(); ++i) {
    if (!known) {
      cores.push_back({int(i)});
      continue;
    }
    const auto id = std::make_pair(info.Apic[i].PackageId, info.Apic[i].CoreId);
    auto found = byId.find(id);
    if (found == byId.end()) {
      byId[id] = cores.size();
      cores.push_back({int(i)});
    } else {
      cores[found->second].push_back(int(i));
    }
  }
  return cores;
}

int coreAt(const QTime &testTime, int coreMinutes, int coreCount) {
  if (coreCount <= 0)
    return 0;
  const int turn = QTime(0, 0).secsTo(testTime) / (60 * qMax(coreMinutes, 1));
  return turn % coreCount;
}

bool alternatingRuns(int interval) {
  const int cycle = std::accumulate(std::begin(AlternatingPhases),
                                    std::end(AlternatingPhases), 0);
  int at = interval % cycle;
  for (size_t phase = 0;; ++phase) {
    if (at < AlternatingPhases[phase])
      return phase % 2 == 0;
    at -= AlternatingPhases[phase];
  }
}

QString logicalProcessorsText(const SystemInfo &info,
                              const std::vector<int> &core) {
  QStringList numbers;
  for (int i : core)
    numbers << QString::number(info.Processor[size_t(i)]);
  return (core.size() == 1 ? "processeur logique " : "processeurs logiques ") +
         numbers.join(", ");
}

#include "engine/workloads/Slices.h"

#include "stress/EngineContract.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

void count(const WorkloadTally &tally, int kind, uint64_t work, long long ns) {
  if (tally.shared)
    __atomic_fetch_add(tally.shared + WORKER_PATH_COUNT + kind,
                       (unsigned long long)work, __ATOMIC_RELAXED);
  if (tally.work) {
    tally.work[kind] += work;
    tally.nanoseconds[kind] += uint64_t(ns);
  }
}

// Units of w on level until `seconds` have passed or the flag is set.
bool runFor(Workload &w, int kind, int level, double seconds,
            const int *stopFlag, const WorkloadTally &tally) {
  Clock::time_point start = Clock::now();
  while (!stopFlagLowByte(stopFlag) && secondsSince(start) < seconds) {
    Clock::time_point unit = Clock::now();
    if (!w.run(level, nullptr))
      return false;
    count(tally, kind, w.workPerUnit(),
          std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() -
                                                               unit)
              .count());
  }
  return true;
}

} // namespace

bool WorkloadSlices::create(long lastLevelBytes) {
  for (int kind = 0; kind < WORKER_WORKLOAD_COUNT; ++kind)
    if (!(workloads[kind] = makeWorkload(kind, lastLevelBytes)))
      return false;
  return true;
}

bool WorkloadSlices::due(double sliceSeconds) const {
  return secondsSince(matrixSince) >= MATRIX_SLICES * sliceSeconds;
}

int WorkloadSlices::runSlice(double sliceSeconds, const int *stopFlag,
                             uint64_t seed, const WorkloadTally &tally) {
  int kind = next;
  next = (next + 1) % WORKER_WORKLOAD_COUNT;
  Workload &w = *workloads[kind];
  int code = ENGINE_WORKLOAD_MISMATCH + kind;
  if (!w.renew(seed))
    return code;
  unsigned levels = w.levels();
  int widest = widestLevel(levels);
  int narrower = __builtin_popcount(levels) - 1;
  double wide = narrower ? 0.75 * sliceSeconds : sliceSeconds;
  if (!runFor(w, kind, widest, wide, stopFlag, tally))
    return code;
  for (int level = 0; level < widest; ++level)
    if ((levels & (1u << level)) &&
        !runFor(w, kind, level, 0.25 * sliceSeconds / narrower, stopFlag,
                tally))
      return code;
  matrixSince = Clock::now();
  return 0;
}

int WorkloadSlices::runUnits(int kind, int level, long units,
                             const WorkloadFault *fault, const int *stopFlag,
                             uint64_t seed, const WorkloadTally &tally) {
  Workload &w = *workloads[kind];
  if (level < 0)
    level = widestLevel(w.levels());
  if (level >= LEVEL_COUNT || !(w.levels() & (1u << level)))
    return ENGINE_INITIALISATION;
  int code = ENGINE_WORKLOAD_MISMATCH + kind;
  if (!w.renew(seed))
    return code;
  for (long u = 0; (units < 0 || u < units) && !stopFlagLowByte(stopFlag);
       ++u) {
    if (!w.run(level, fault && fault->unit == u ? fault : nullptr))
      return code;
    count(tally, kind, w.workPerUnit(), 0);
  }
  return ENGINE_STOPPED;
}

#include "engine/workloads/Slices.h"

#include <chrono>
#include <cmath>

#include "platform/EngineContract.h"
#include "platform/WorkerPage.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Slices since the clock's origin (the machine's boot), the part of the
// current one that is over as the fraction.
double slicesNow(double sliceSeconds) {
  return std::chrono::duration<double>(Clock::now().time_since_epoch())
             .count() /
         sliceSeconds;
}

constexpr long CYCLE = MATRIX_SLICES + 1;

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

bool WorkloadSlices::create(long lastLevelBytes,
                            const WorkloadPartner &partner) {
  for (int kind = 0; kind < WORKER_WORKLOAD_COUNT; ++kind)
    if (!(workloads[kind] = makeWorkload(kind, lastLevelBytes, partner)))
      return false;
  return true;
}

bool WorkloadSlices::due(double sliceSeconds) const {
  long slice = long(slicesNow(sliceSeconds));
  return slice % CYCLE == MATRIX_SLICES && slice != lastSlice;
}

int WorkloadSlices::runSlice(double sliceSeconds, const int *stopFlag,
                             uint64_t runSeed, const WorkloadTally &tally) {
  double now = slicesNow(sliceSeconds);
  lastSlice = long(now);
  long turn = lastSlice / CYCLE;
  int kind = int(turn % WORKER_WORKLOAD_COUNT);
  Workload &w = *workloads[kind];
  unsigned levels = w.levels();
  if (!levels)
    return 0;
  uint64_t seed = renewalSeed(runSeed, turn);
  if (!w.renew(seed))
    return fail(kind, -1, turn, seed, false);
  double left = (std::floor(now) + 1 - now) * sliceSeconds;
  int widest = widestLevel(levels);
  int narrower = __builtin_popcount(levels) - 1;
  double wide = narrower ? 0.75 * left : left;
  if (!runFor(w, kind, widest, wide, stopFlag, tally))
    return fail(kind, widest, turn, seed, true);
  for (int level = 0; level < widest; ++level)
    if ((levels & (1u << level)) &&
        !runFor(w, kind, level, 0.25 * left / narrower, stopFlag, tally))
      return fail(kind, level, turn, seed, true);
  return 0;
}

int WorkloadSlices::runUnits(int kind, int level, long units,
                             const WorkloadFault *fault, const int *stopFlag,
                             uint64_t seed, const WorkloadTally &tally) {
  Workload &w = *workloads[kind];
  if (level < 0)
    level = widestLevel(w.levels());
  if (level < 0 || level >= LEVEL_COUNT || !(w.levels() & (1u << level)))
    return ENGINE_INITIALISATION;
  if (!w.renew(seed))
    return fail(kind, -1, 0, seed, false);
  for (long u = 0; (units < 0 || u < units) && !stopFlagLowByte(stopFlag);
       ++u) {
    if (!w.run(level, fault && fault->unit == u ? fault : nullptr))
      return fail(kind, level, 0, seed, true);
    count(tally, kind, w.workPerUnit(), 0);
  }
  return ENGINE_STOPPED;
}

// The failure described, and its unit run again on its level from the
// same inputs where one ran and can be: a message between two workers is
// gone once received.
int WorkloadSlices::fail(int kind, int level, long turn, uint64_t seed,
                         bool ran) {
  Workload &w = *workloads[kind];
  failed = {kind, level >= 0 ? w.levelName(level) : "?", turn, seed,
            w.mismatch()};
  // Renewed first: a unit may have left its wrong result in its inputs
  // (the last-level cache copies from its last copy).
  if (ran && kind != WORKLOAD_COHERENCE && w.renew(seed)) {
    failed.retries = FAILURE_RETRIES;
    for (int i = 0; i < FAILURE_RETRIES; ++i)
      failed.reproduced += !w.run(level, nullptr);
  }
  return ENGINE_WORKLOAD_MISMATCH + kind;
}

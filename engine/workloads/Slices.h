#pragma once

// The turns of the workloads beside the matrix units within a worker: after
// MATRIX_SLICES slices of the matrix load, one slice of the next workload in
// turn, with new inputs. The matrix load keeps 7 / 8 of the time: it makes
// the heat the user tests against, and the other workloads, which draw less
// power, take too short a share to cool the processor by more than a few
// per cent of its rise.

#include <chrono>
#include <memory>

#include "engine/workloads/Workload.h"

constexpr int MATRIX_SLICES = 7;

// Where a slice's verified work goes: the shared counts (the whole page of
// WORKER_COUNTER_COUNT, or null) and, for the benchmark, work and time per
// workload (or null).
struct WorkloadTally {
  unsigned long long *shared = nullptr;
  uint64_t *work = nullptr, *nanoseconds = nullptr;
};

class WorkloadSlices {
public:
  // Every workload with its memory; false when some could not be allocated.
  bool create(long lastLevelBytes);
  // Whether the matrix's slices since the last workload's are over.
  bool due(double sliceSeconds) const;
  // One slice of the next workload: renewed from seed, then units on its
  // widest level for 3 / 4 of the slice and on each narrower one for an
  // equal part of the rest, until the time is up or the stop flag is set.
  // 0, or the workload's failure code.
  int runSlice(double sliceSeconds, const int *stopFlag, uint64_t seed,
               const WorkloadTally &tally);
  // `units` units of one workload on one level (-1: until the stop flag),
  // after one renewal; for the tests. 6 when the level is not here.
  int runUnits(int kind, int level, long units, const WorkloadFault *fault,
               const int *stopFlag, uint64_t seed, const WorkloadTally &tally);

private:
  std::unique_ptr<Workload> workloads[WORKER_WORKLOAD_COUNT];
  int next = 0;
  std::chrono::steady_clock::time_point matrixSince =
      std::chrono::steady_clock::now();
};

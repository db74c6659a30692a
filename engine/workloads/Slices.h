#pragma once

// The turns of the workloads beside the matrix units within a worker: after
// MATRIX_SLICES slices of the matrix load, one slice of the next workload in
// turn, with new inputs. The matrix load keeps 7 / 8 of the time: it makes
// the heat the user tests against, and the other workloads, which draw less
// power, take too short a share to cool the processor by more than a few
// per cent of its rise. Slices follow the machine's monotonic clock, the
// same in every worker process: all workers run the same workload at the
// same time, on the same inputs, so that those between two workers find
// their partner busy with them.

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

// What a workload's failure found, for the worker's failure record.
struct SliceFailure {
  int kind = -1;
  const char *level = "?"; // the level's name
  long turn = -1;          // the workload's turn, counted over the run
  uint64_t seed = 0;       // its inputs'
  WorkloadMismatch mismatch;
  int retries = 0, reproduced = 0; // the failed unit run again
};

class WorkloadSlices {
public:
  // Every workload with its memory; false when some could not be allocated.
  bool create(long lastLevelBytes, const WorkloadPartner &partner = {});
  // Whether a workload's slice has begun and this worker has not run it.
  bool due(double sliceSeconds) const;
  // The slice that began: its workload renewed from renewalSeed(runSeed,
  // turn), then units on its widest level for 3 / 4 of what is left of the
  // slice and on each narrower one for an equal part of the rest, until the
  // time is up or the stop flag is set. A workload without a level here
  // leaves its slice to the matrix units. 0, or the workload's failure code.
  int runSlice(double sliceSeconds, const int *stopFlag, uint64_t runSeed,
               const WorkloadTally &tally);
  // `units` units of one workload on one level (-1: until the stop flag),
  // after one renewal; for the tests. 6 when the level is not here.
  int runUnits(int kind, int level, long units, const WorkloadFault *fault,
               const int *stopFlag, uint64_t seed, const WorkloadTally &tally);
  // What the last failure found.
  const SliceFailure &failure() const { return failed; }

private:
  std::unique_ptr<Workload> workloads[WORKER_WORKLOAD_COUNT];
  long lastSlice = -1;
  SliceFailure failed;

  int fail(int kind, int level, long turn, uint64_t seed, bool ran);
};

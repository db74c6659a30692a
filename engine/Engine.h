#pragma once

// The engine core: self-checking dense matrix products on one thread.
// Burnmod.so wraps it in the two exports of platform/EngineContract.h; tests
// link it directly to force a path or a unit kind and to inject faults,
// which the library's exports cannot reach.

#include <cstdint>

#include "engine/EnginePaths.h"
#include "engine/workloads/Workload.h"
#include "platform/WorkerPage.h"

// A unit computes C = bias + A * B (M x K times K x N) on one path and checks
// it before the next unit starts.
enum UnitKind {
  // Small integers on a 1.5 * 2^52 bias: every partial sum is an exact
  // integer of the same binade, compared with an integer reference.
  UNIT_EXACT,
  // Full-mantissa random values on a bias that keeps every partial sum in
  // one binade, compared with the first run of its kind.
  UNIT_RANDOM,
};

struct Geometry {
  int m, n, k;
};

// Sizes for a given L2 share per logical processor in KB: K = 512, N = 64,
// and M rows (a multiple of 24, 24 to 480) so that a unit's operands and
// result fill about half of it. Zero, negative or absurd sizes get the
// default of 1 MB.
Geometry geometryFor(int l2Kb);
// Bytes the engine allocates for one worker with geometry g: 2 x (A, B and
// bias) for the two kinds, C and three references: about 1 MiB for 1 MB of
// L2, at most 5.5 MiB (M = 480).
long workspaceBytes(const Geometry &g);

// Flips bits of one value during one unit: mask has bit 0 for the lowest
// mantissa bit, bit 63 for the sign. A value is one lane of a vector.
struct FaultInjection {
  enum Target { NONE, OPERAND_A, OPERAND_B, ACCUMULATOR, RESULT };
  Target target = NONE;
  long unit = 0; // index of the unit hit, counted from 0
  int row = 0;   // OPERAND_A: row and depth; OPERAND_B: depth and column;
  int col = 0;   // ACCUMULATOR and RESULT: row and column of C
  unsigned long long mask = 0;
  // Of the recomputations of the failed unit (FAILURE_RETRIES with a page),
  // how many the fault hits again.
  int retriesHit = 0;
};

struct EngineOptions {
  int l2Kb = 0;
  int forcedPath = -1; // EnginePath, or -1 for the usual cycle
  int forcedKind = -1; // UnitKind, or -1 for the usual alternation
  long maxUnits = -1;  // stop after this many units, or -1 to run until told
  // Seed of the first operand set; 0 draws one, so that workers and runs
  // differ. Each renewal derives its own.
  uint64_t seed = 0;
  // Renew the operands before every renewEvery-th unit, or -1 for every few
  // seconds.
  long renewEvery = -1;
  bool failAllocation = false;
  FaultInjection fault;
  // Per path, the operations of each verified unit are added here at once,
  // atomically, for a reader in another process, then per workload its
  // work (WORKER_COUNTER_COUNT counts); null for none.
  unsigned long long *verifiedFlops = nullptr;
  // The worker's page (platform/WorkerPage.h): every renewal's reference
  // digests published, the program's recheck requests served, a failure
  // recorded once recomputed FAILURE_RETRIES times; null for none.
  WorkerPage *page = nullptr;
  // The matrix units alone, or with the other workloads taking their turns
  // in slices of sliceSeconds (workloads/Slices.h).
  bool fpOnly = false;
  double sliceSeconds = 1.0;
  // Units of one workload alone instead (WorkerWorkload; maxUnits of them,
  // on forcedLevel, or -1 for its widest), with workloadFault.
  int forcedWorkload = -1;
  int forcedLevel = -1;
  WorkloadFault workloadFault;
  // The run's region and this worker's channel in it, for the workloads
  // between two workers; without them those have no turn.
  WorkloadPartner partner;
};

// Work done per path; written by the running engine thread, read by others
// once RunTest has returned.
struct EngineCounters {
  uint64_t flops[PATH_COUNT];
  uint64_t nanoseconds[PATH_COUNT];
  uint64_t renewals, renewalNanoseconds; // operand sets after the first
  uint64_t work[WORKER_WORKLOAD_COUNT], workNanoseconds[WORKER_WORKLOAD_COUNT];
};

// Renewal r of a run fills the operands in pattern r % PATTERN_COUNT from
// renewalSeed(runSeed, r) (platform/WorkerPage.h).

// Runs units until the low byte of *stopFlag turns 1 (returns 0), maxUnits
// units have passed (0), or a check fails (1 to 4, or a workload's code from
// 10). 5: allocation failed; 6: no stop flag, a forced path or workload
// level this processor cannot run, an unknown kind or workload, or a fault
// outside the matrices. counters may be null.
int runEngine(const int *stopFlag, const EngineOptions &options,
              EngineCounters *counters);

// The path and kind of unit u when nothing is forced: the widest path but
// for one unit in 64, which goes to the narrower paths in turn.
int scheduledPath(long unit, unsigned paths);
int scheduledKind(long unit);

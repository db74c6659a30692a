#pragma once

// The contract between a worker and the test engine library ("Burnmod.so").
//
// Every worker loads ENGINE_FILE in its own process, calls
// SetStopTest(&bStopTest) once with the shared flag, then
// RunTest(argument); RunTest returns when the flag's low byte turns 1 or an
// error occurs, and its result becomes the worker's exit status (its low 8
// bits). The argument is the KB of L2 per logical processor, with
// ENGINE_LOAD_FP_ONLY added when the user asked for the floating-point load
// alone. An engine may also export SetEngineCounters: the worker then calls
// it before RunTest with an array of WORKER_COUNTER_COUNT counts (in shared
// memory the program reads), to which the engine adds the work of each unit,
// atomically, once its check passed.
// An engine may also export SetWorkerPage: the worker then calls it before
// RunTest with its shared WorkerPage (platform/WorkerPage.h). The engine
// takes the run's seed from it, so that every worker computes the same
// units, publishes each renewal's reference digests there, recomputes a
// renewal the program asks for, and leaves the record of a failure there
// before RunTest returns its code.
// An engine may also export SetRunRegion: the worker then calls it before
// RunTest with the run's RunRegion (platform/RunRegion.h), shared by every
// worker, where it finds its channel by the page's worker. The workloads
// between two processors run only with it.

#include "platform/RunRegion.h"
#include "platform/WorkerCounters.h"
#include "platform/WorkerPage.h"

#include <cstdint>

#define ENGINE_FILE "Burnmod.so"

extern "C" {
typedef void (*SetStopTestFn)(int *stopFlag);
typedef int (*RunTestFn)(int l2KbPerLogical);
typedef void (*SetEngineCountersFn)(unsigned long long *verifiedWork);
typedef void (*SetWorkerPageFn)(WorkerPage *page);
typedef void (*SetRunRegionFn)(RunRegion *region);
}

// RunTest's argument flag: the matrix units only, for the most heat; without
// it the engine gives every other workload its turns too. Far above any L2
// size.
constexpr int ENGINE_LOAD_FP_ONLY = 1 << 30;

// Result codes of RunTest and of the worker procedure. Codes 1 to 4 are
// calculation errors of the processor, found by the check of every unit
// (a unit is one dense matrix product on one instruction-set path):
enum EngineResult : int {
  ENGINE_STOPPED = 0, // stop requested, nothing to report
  // An exact unit (integer-valued, order-independent) differs from the
  // reference computed at start in integer arithmetic: a processor that
  // miscalculates, possibly the same way every time.
  ENGINE_EXACT_MISMATCH = 1,
  // A unit of full-mantissa random values differs, in any bit, from its
  // first run on a path of the same kind (fused or separate multiply-add):
  // a transient fault.
  ENGINE_REPEAT_MISMATCH = 2,
  // A unit's result holds a NaN or an infinity, which its data cannot give.
  ENGINE_NOT_FINITE = 3,
  // The operands read by a unit no longer sum to their value at start; the
  // engine never writes them after set-up, so a load or the memory under it
  // went wrong. Checked before the result, which then differs too.
  ENGINE_SELF_CHECK = 4,
  ENGINE_ALLOCATION = 5, // memory allocation error
  // No stop flag handed over (SetStopTest not called, or with null), or a
  // processor without a path the engine can run.
  ENGINE_INITIALISATION = 6,
  ENGINE_NOTHING_TO_REPORT = 7,
  WORKER_FILE_ACCESS = 9, // library or export missing
  // A unit of one of the other workloads (WorkerCounters.h) differs from the
  // answer known for it: code ENGINE_WORKLOAD_MISMATCH + its WorkerWorkload,
  // 10 vector integer, 11 scalar integer, 12 AES, 13 SHA-256, 14 carry-less
  // multiply, 15 division and square root, 16 last-level cache, 17 a message
  // between two workers lost, repeated or torn.
  ENGINE_WORKLOAD_MISMATCH = 10,
  ENGINE_WORKLOAD_MISMATCH_END =
      ENGINE_WORKLOAD_MISMATCH + WORKER_WORKLOAD_COUNT,
};

// The workload whose unit failed with code, or -1 for any other code.
inline int failedWorkload(uint32_t code) {
  return code >= ENGINE_WORKLOAD_MISMATCH && code < ENGINE_WORKLOAD_MISMATCH_END
             ? int(code - ENGINE_WORKLOAD_MISMATCH)
             : -1;
}

// Only the low byte of the stop flag is ever read or written: 1 = no run
// (stop), 0 = run in progress. The flag is shared with the engine threads
// without a lock, so the byte is accessed atomically.
inline unsigned char stopFlagLowByte(const int *flag) {
  return __atomic_load_n(reinterpret_cast<const unsigned char *>(flag),
                         __ATOMIC_RELAXED);
}

inline void setStopFlagLowByte(int *flag, unsigned char value) {
  __atomic_store_n(reinterpret_cast<unsigned char *>(flag), value,
                   __ATOMIC_RELAXED);
}

#pragma once

// The contract between a worker and the test engine library ("Burnmod.so").
//
// Every worker loads ENGINE_FILE in its own process, calls
// SetStopTest(&bStopTest) once with the shared flag, then
// RunTest(l2KbPerLogical); RunTest returns when the flag's low byte turns 1
// or an error occurs, and its result becomes the worker's exit status (its
// low 8 bits). An engine may also export SetEngineCounters: the worker then
// calls it before RunTest with an array of WORKER_PATH_COUNT counts (in
// shared memory the program reads), to which the engine adds the
// floating-point operations of each unit, atomically, once its check passed.
// An engine may also export SetWorkerPage: the worker then calls it before
// RunTest with its shared WorkerPage (platform/WorkerPage.h). The engine
// takes the run's seed from it, so that every worker computes the same
// units, publishes each renewal's reference digests there, recomputes a
// renewal the program asks for, and leaves the record of a failure there
// before RunTest returns its code.

#include "platform/WorkerCounters.h"
#include "platform/WorkerPage.h"

#include <cstdint>

#define ENGINE_FILE "Burnmod.so"

extern "C" {
typedef void (*SetStopTestFn)(int *stopFlag);
typedef int (*RunTestFn)(int l2KbPerLogical);
typedef void (*SetEngineCountersFn)(unsigned long long *verifiedFlops);
typedef void (*SetWorkerPageFn)(WorkerPage *page);
}

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
};

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

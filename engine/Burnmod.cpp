// The engine library's exports. Each loaded copy has its own stop flag
// address and counters, so per-worker copies never share state.

#include "engine/Engine.h"

#define ENGINE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int *stopFlag = nullptr;
unsigned long long *verifiedFlops = nullptr;
WorkerPage *page = nullptr;
EngineCounters counters;
} // namespace

ENGINE_EXPORT void SetStopTest(int *flag) { stopFlag = flag; }

// The worker's counts in memory the program reads (stress/EngineContract.h).
ENGINE_EXPORT void SetEngineCounters(unsigned long long *flops) {
  verifiedFlops = flops;
}

// The run's seed in, digests and the failure record out
// (stress/EngineContract.h).
ENGINE_EXPORT void SetWorkerPage(WorkerPage *workerPage) { page = workerPage; }

ENGINE_EXPORT int RunTest(int l2KbPerLogical) {
  EngineOptions options;
  options.l2Kb = l2KbPerLogical;
  options.verifiedFlops = verifiedFlops;
  options.page = page;
  options.seed = page ? page->runSeed : 0;
  return runEngine(stopFlag, options, &counters);
}

// For the benchmark only: floating-point operations and time per path
// (EnginePath order) since this copy was loaded. Read after RunTest returns.
ENGINE_EXPORT void GetEngineCounters(unsigned long long *flops,
                                     unsigned long long *nanoseconds) {
  for (int p = 0; p < PATH_COUNT; ++p) {
    flops[p] = counters.flops[p];
    nanoseconds[p] = counters.nanoseconds[p];
  }
}

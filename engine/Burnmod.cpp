// The engine library's exports. Each loaded copy has its own stop flag
// address and counters, so per-worker copies never share state.

#include "engine/Engine.h"
#include "platform/EngineContract.h"

#define ENGINE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int *stopFlag = nullptr;
unsigned long long *verifiedFlops = nullptr;
WorkerPage *page = nullptr;
RunRegion *region = nullptr;
EngineCounters counters;
} // namespace

ENGINE_EXPORT void SetStopTest(int *flag) { stopFlag = flag; }

// The worker's counts in memory the program reads (platform/EngineContract.h).
ENGINE_EXPORT void SetEngineCounters(unsigned long long *counts) {
  verifiedFlops = counts;
}

// The run's seed in, digests and the failure record out
// (platform/EngineContract.h).
ENGINE_EXPORT void SetWorkerPage(WorkerPage *workerPage) { page = workerPage; }

// The run's region, shared with the other workers (platform/EngineContract.h).
ENGINE_EXPORT void SetRunRegion(RunRegion *runRegion) { region = runRegion; }

ENGINE_EXPORT int RunTest(int argument) {
  EngineOptions options;
  options.l2Kb = argument & ~ENGINE_LOAD_FP_ONLY;
  options.fpOnly = argument & ENGINE_LOAD_FP_ONLY;
  options.verifiedFlops = verifiedFlops;
  options.page = page;
  options.seed = page ? page->runSeed : 0;
  // The page tells this worker's channel; without it, no partner.
  if (page)
    options.partner = {region, page->worker};
  return runEngine(stopFlag, options, &counters);
}

// For the benchmark only: floating-point operations and time per path
// (EnginePath order), then work and time per workload (WorkerWorkload
// order), since this copy was loaded: WORKER_COUNTER_COUNT of each. Read
// after RunTest returns.
ENGINE_EXPORT void GetEngineCounters(unsigned long long *work,
                                     unsigned long long *nanoseconds) {
  for (int p = 0; p < PATH_COUNT; ++p) {
    work[p] = counters.flops[p];
    nanoseconds[p] = counters.nanoseconds[p];
  }
  for (int w = 0; w < WORKER_WORKLOAD_COUNT; ++w) {
    work[PATH_COUNT + w] = counters.work[w];
    nanoseconds[PATH_COUNT + w] = counters.workNanoseconds[w];
  }
}

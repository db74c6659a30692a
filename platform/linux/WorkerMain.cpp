// vorsk-worker <RunTest argument>: one worker of a run. Started by the
// program with the stop flag and a gate inherited, it waits at the gate so
// that its affinity and priority are set before the engine runs, then runs
// the engine, its verified operations counted in a page the program reads,
// the run's seed, digests and failure record in another, the run's region
// shared with the other workers, and exits with its result.

#include "platform/EngineContract.h"
#include "platform/WorkerEngine.h"
#include "platform/linux/LinuxWorker.h"

#include <cstdlib>

int main(int argc, char *argv[]) {
  if (argc != 2)
    return WORKER_FILE_ACCESS;
  int *stopFlag = attachInheritedStopFlag();
  unsigned long long *counters = attachInheritedCounters();
  WorkerPage *page = attachInheritedPage();
  RunRegion *region = attachInheritedRegion();
  // A gate closed without opening: the program gave up on this worker.
  if (!awaitWorkerGate())
    return ENGINE_STOPPED;
  if (!stopFlag)
    return ENGINE_INITIALISATION;
  return int(
      RunWorkerEngine(stopFlag, std::atoi(argv[1]), counters, page, region));
}

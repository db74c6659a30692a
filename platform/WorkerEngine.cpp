#include "platform/WorkerEngine.h"

#include "platform/EngineContract.h"
#include "platform/Platform.h"

uint32_t RunWorkerEngine(int *stopFlag, int argument,
                         unsigned long long *verifiedFlops, WorkerPage *page,
                         RunRegion *region) {
  Platform &os = platform();
  LibraryHandle library = os.loadLibrary(ENGINE_FILE);
  if (!library)
    return WORKER_FILE_ACCESS;
  auto setStopTest = reinterpret_cast<SetStopTestFn>(
      os.getProcAddress(library, "SetStopTest"));
  if (!setStopTest) {
    os.freeLibrary(library);
    return WORKER_FILE_ACCESS;
  }
  setStopTest(stopFlag);
  // Optional: an engine without counts still runs.
  if (verifiedFlops)
    if (auto setCounters = reinterpret_cast<SetEngineCountersFn>(
            os.getProcAddress(library, "SetEngineCounters")))
      setCounters(verifiedFlops);
  if (page)
    if (auto setPage = reinterpret_cast<SetWorkerPageFn>(
            os.getProcAddress(library, "SetWorkerPage")))
      setPage(page);
  if (region)
    if (auto setRegion = reinterpret_cast<SetRunRegionFn>(
            os.getProcAddress(library, "SetRunRegion")))
      setRegion(region);
  auto runTest =
      reinterpret_cast<RunTestFn>(os.getProcAddress(library, "RunTest"));
  if (!runTest) {
    os.freeLibrary(library);
    return WORKER_FILE_ACCESS;
  }
  int result = runTest(argument);
  os.freeLibrary(library);
  return static_cast<uint32_t>(result);
}

#pragma once

#include <cstdint>

struct WorkerPage;
struct RunRegion;

// The worker program's work: loads the engine, hands it the stop flag and,
// when it exports SetEngineCounters, the array of WORKER_COUNTER_COUNT counts
// it adds its verified operations to, when it exports SetWorkerPage the
// worker's page, and when it exports SetRunRegion the run's region (null:
// none), runs RunTest(argument) and returns its result.
uint32_t RunWorkerEngine(int *stopFlag, int argument,
                         unsigned long long *verifiedFlops,
                         WorkerPage *page = nullptr,
                         RunRegion *region = nullptr);

#pragma once

#include <cstdint>

// Run flag shared with the engines in the worker processes; only its low
// byte is used (see EngineContract.h). 1 at start: no run in progress.
extern int &bStopTest;

// The engine's load: every unit of the processor, or the floating-point
// matrix units alone, for the most heat.
enum class EngineLoad { Full, FloatingPoint };
// RunTest's argument with its load flag set for load.
int WithEngineLoad(int argument, EngineLoad load);

// The worker program's work: loads the engine, hands it the stop flag and,
// when it exports SetEngineCounters, the array of WORKER_COUNTER_COUNT counts
// it adds its verified operations to, when it exports SetWorkerPage the
// worker's page, and when it exports SetRunRegion the run's region (null:
// none), runs RunTest(argument) and returns its result.
struct WorkerPage;
struct RunRegion;
uint32_t RunWorkerEngine(int *stopFlag, int argument,
                         unsigned long long *verifiedFlops,
                         WorkerPage *page = nullptr,
                         RunRegion *region = nullptr);

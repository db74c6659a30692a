#pragma once

#include <cstdint>

// Run flag shared with the engines in the worker processes; only its low
// byte is used (see EngineContract.h). 1 at start: no run in progress.
extern int &bStopTest;

// RunTest's argument for every worker: KB of L2 per logical processor,
// computed once the machine is identified.
extern int RunTestArgument;

// The engine's load: every unit of the processor, or the floating-point
// matrix units alone, for the most heat.
enum class EngineLoad { Full, FloatingPoint };
// RunTest's argument with its load flag set for load.
int WithEngineLoad(int argument, EngineLoad load);

// Worker procedure, run by the worker program; param is the stop flag to
// hand to the engine. Loads the engine, runs it and returns its result.
uint32_t ThreadStress(void *param);
// The same, handing an engine that exports SetEngineCounters the array of
// WORKER_COUNTER_COUNT counts it adds its verified operations to, and one that
// exports SetWorkerPage the worker's page (null: none).
struct WorkerPage;
uint32_t RunWorkerEngine(int *stopFlag, unsigned long long *verifiedFlops,
                         WorkerPage *page = nullptr);

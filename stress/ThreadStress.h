#pragma once

#include "platform/EngineContract.h"

// Run flag shared with the engines in the worker processes; only its low
// byte is used (see EngineContract.h). 1 at start: no run in progress.
extern int &bStopTest;

// The engine's load: every unit of the processor, or the floating-point
// matrix units alone, for the most heat.
enum class EngineLoad { Full, FloatingPoint };
// RunTest's argument with its load flag set for load.
inline int WithEngineLoad(int argument, EngineLoad load) {
  argument &= ~ENGINE_LOAD_FP_ONLY;
  return load == EngineLoad::FloatingPoint ? argument | ENGINE_LOAD_FP_ONLY
                                           : argument;
}

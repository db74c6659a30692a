#pragma once

#include "platform/Platform.h"
#include "sysinfo/Frequency.h"

#include <cstdint>
#include <vector>

// The state of the workers of the run in progress, owned by the controller.
// The member names are those of the original design, where they were part
// of the machine description.
struct RunState {
  // Per worker: one entry for each processor the process may run on.
  std::vector<ThreadHandle> hThread;
  std::vector<uint32_t> ThreadClock; // timeGetTime() at the previous sample
  std::vector<uint64_t> ThreadTime;  // user time at the previous sample, 100 ns
  // The index in the machine's Processor of the processor the worker was
  // bound to, or -1: a worker that could not start leaves its processor to
  // the next one.
  std::vector<int> WorkerEntry;
  // The clock under load of the processors of the run, by processor of
  // Processor.
  std::vector<LoadClock> LoadClocks;
};

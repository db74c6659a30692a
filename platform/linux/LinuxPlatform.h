#pragma once

#include "platform/Platform.h"

// The real platform: threads on pthreads with a start gate, /proc for thread
// times, sched_*affinity, per-thread nice, POSIX shared memory, dlopen.
Platform &linuxPlatform();

// The name every thread of the layer carries (/proc/self/task/*/comm).
constexpr const char LinuxThreadName[] = "vorsk-thread";

#pragma once

#include "platform/Platform.h"

// The real platform: threads on pthreads with a start gate, /proc for thread
// times, sched_*affinity, per-thread nice, POSIX shared memory, dlopen.
Platform &linuxPlatform();

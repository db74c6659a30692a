#pragma once

#include "platform/Platform.h"

#include <vector>

// The EDAC counters of /sys/devices/system/edac/mc (each controller, then
// its rows) and the machine-check lines of /proc/interrupts, as they are now.
std::vector<ErrorCounter> readHardwareErrorCounters();

#pragma once

#include "platform/Platform.h"

// The values behind the window's priority and duration choices, by the
// index stored under "Priority" and "Duration".
constexpr uint32_t PriorityClasses[3] = {ABOVE_NORMAL_PRIORITY_CLASS,
                                         NORMAL_PRIORITY_CLASS,
                                         BELOW_NORMAL_PRIORITY_CLASS};
constexpr int DurationSeconds[10] = {0,     3600,  7200,  10800, 14400,
                                     21600, 28800, 43200, 57600, 72000};

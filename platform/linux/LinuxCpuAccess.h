#pragma once

#include "platform/CpuAccess.h"

// The real processor: CPUID and RDTSC instructions, /dev/cpu/N/msr for MSRs
// (the msr module and CAP_SYS_RAWIO).
// The right named "SeDebugPrivilege" is held when the MSR device of the
// calling thread's processor can be opened.
CpuAccess &linuxCpuAccess();

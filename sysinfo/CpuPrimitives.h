#pragma once

#include "platform/Platform.h"

#include <atomic>
#include <cstdint>
#include <string>

// The lowest layer of the identification: CPUID, the time-stamp counter, a
// busy wait and MSR reads through cpuAccess(), PCI configuration reads
// through the kernel. Nothing here reports to the user; failures are results
// of 0.

// Register slots written by Cpuid and by the MSR reads of Rdmsr and
// TestZwSystemDebugControl (EDX:EAX = high:low half). A caller reads the
// slots right after its own call. Sampling threads write them too, hence
// atomic.
extern std::atomic<uint32_t> i_eax, i_ebx, i_ecx, i_edx;

// Enables or disables one named right of the process; nonzero on success.
int bSetPrivilege(const char *name, int enable);
// Reads an MSR of the calling thread's processor: 1 and both halves written,
// or 0 and the outputs untouched.
int bReadMSR_Win32(uint32_t msr, uint32_t *high, uint32_t *low);
// Busy for at least ms milliseconds of elapsed time.
void Wait(int ms);
void Cpuid(uint32_t leaf, uint32_t subleaf);
uint64_t Rdtsc();
// 1 when MSR 0 can be read; its halves are then in i_edx and i_eax.
int TestZwSystemDebugControl();
// The MSR's value, 0 on failure (the slots then keep their values).
uint64_t Rdmsr(uint32_t msr);
// An MSR of the given processor, read from any thread; false when it cannot
// be read (no msr module, no root, or no such register). Leaves the slots.
bool ReadProcessorMsr(int processor, uint32_t msr, uint64_t *value);
// The device a PCI configuration address (bus 23..16, device 15..11,
// function 10..8, register 7..2) names, as the kernel names it:
// "0000:00:18.3".
std::string pciDeviceName(uint32_t address);
// Whether the register a PCI configuration address names can be read.
PciConfigRead pciRegisterAccess(uint32_t address);
// Writes select into the low byte of the register a PCI configuration address
// names and reads the register back; 0 when nothing was read. The register
// keeps its other bytes, which the hardware does not let software change.
uint32_t ReadK8ThermTrip(uint32_t address, uint32_t select);

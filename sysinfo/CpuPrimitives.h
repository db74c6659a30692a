#pragma once

#include <atomic>
#include <cstdint>

// The lowest layer of the identification: CPUID, the time-stamp counter, a
// busy wait, MSR reads and PCI configuration reads, all through cpuAccess().
// Nothing here reports to the user; failures are results of 0.

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
// Writes value1 to port1, value2 to port2, then reads port2 into out. All
// three are attempted once the right is held; 1 only when all succeeded.
int bReadIO_Win32(uint32_t port1, uint32_t value1, uint32_t port2,
                  uint32_t value2, uint32_t *out);
// Busy for at least ms milliseconds of elapsed time.
void Wait(int ms);
void Cpuid(uint32_t leaf, uint32_t subleaf);
uint64_t Rdtsc();
// 1 when MSR 0 can be read; its halves are then in i_edx and i_eax.
int TestZwSystemDebugControl();
// The MSR's value, 0 on failure (the slots then keep their values).
uint64_t Rdmsr(uint32_t msr);
// Latches a PCI configuration address, writes select to that register and
// reads it back; 0 when nothing was read.
uint32_t ReadK8ThermTrip(uint32_t address, uint32_t select);

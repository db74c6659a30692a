#pragma once

#include <cstdint>

// The processor itself: identification and counter instructions and model-
// specific registers. The program uses the real processor; tests install a
// recorded one, so that identification logic and register readers run
// unchanged on any processor the tests describe, and so that no test ever
// touches a real register.

struct CpuidResult {
  uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

class CpuAccess {
public:
  virtual ~CpuAccess() = default;

  virtual CpuidResult cpuid(uint32_t leaf, uint32_t subleaf) = 0;
  virtual uint64_t rdtsc() = 0;
  // Extended control register `index` (XCR0: the register states the OS
  // saves). Only valid when CPUID leaf 1 ECX bit 27 (OSXSAVE) is set.
  virtual uint64_t xgetbv(uint32_t index) = 0;
  // Keeps the calling processor busy for at least ms milliseconds of elapsed
  // time; returns at once for 0 or less.
  virtual void spin(int ms) = 0;

  // Raw register access needs a right the process may lack. Enabling fails
  // when the named right is unknown or cannot be had; every MSR access is
  // bracketed by enabling and disabling it.
  virtual bool setPrivilege(const char *name, bool enable) = 0;
  // Reads an MSR of the processor the calling thread runs on.
  virtual bool readMsr(uint32_t msr, uint64_t *value) = 0;
  // Reads an MSR of processor cpu from whichever processor the caller runs
  // on; needs no right of its own.
  virtual bool readMsrOf(int cpu, uint32_t msr, uint64_t *value) = 0;
};

// The processor every caller uses. The real one unless a test installed
// another. Never null.
CpuAccess &cpuAccess();
// Installs c (not owned; nullptr restores the real one) and returns the
// previous one.
CpuAccess *setCpuAccess(CpuAccess *c);

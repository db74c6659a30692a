#pragma once

#include "platform/Platform.h"

#include <cstdint>

// Instruction-set extension bits of SystemInfo::Instructions.
enum InstructionBits : uint16_t {
  INS_FPU = 0x0001,
  INS_MMX = 0x0002,
  INS_3DNOW = 0x0004,
  INS_SSE = 0x0008,
  INS_SSE2 = 0x0010,
  INS_SSE3 = 0x0020,
  INS_SSSE3 = 0x0040,
  INS_X86_64 = 0x0080,
  INS_SSE4A = 0x0100,
  INS_SSE41 = 0x0200,
  INS_SSE42 = 0x0400,
};

enum CpuVendor : uint8_t {
  VENDOR_UNKNOWN = 0,
  VENDOR_INTEL = 1,
  VENDOR_AMD = 2
};

constexpr int MAX_LOGICAL = 32;

struct ApicInfo {
  uint8_t ApicId;
  uint8_t PackageId;
  uint8_t CoreId;
  uint8_t LogicalId;
};

// What the identification knows about the machine. Cleared as a whole
// (m_SystemInfo = SystemInfo{}) before each identification.
struct SystemInfo {
  char ProcessorName[48];
  uint8_t Vendor;
  uint8_t Family; // base family, leaf 1 EAX bits 11..8
  uint8_t Model;  // base model, leaf 1 EAX bits 7..4
  uint8_t Stepping;
  uint16_t Instructions;
  double Frequency; // MHz
  uint8_t bConstantTsc;
  uint8_t bAperf;
  uint8_t TjMax; // 0, 85 or 100 °C
  uint8_t L2PerPackage;
  uint16_t L2Size; // KB of one L2 cache, 0 when unknown
  uint8_t LogicalCount;
  uint8_t PackageCount;
  uint8_t CoresPerPackage;
  uint8_t LogicalPerPackage;
  // 0 not applicable, 1 supported but not active, 2 active.
  uint8_t HyperThreading;
  uint8_t InactiveCores;
  ApicInfo Apic[MAX_LOGICAL];
  // Per worker of a test run.
  ThreadHandle hThread[MAX_LOGICAL];
  uint32_t ThreadClock[MAX_LOGICAL]; // timeGetTime() at the previous sample
  uint64_t ThreadTime[MAX_LOGICAL];  // user time at the previous sample, 100 ns
};

extern SystemInfo m_SystemInfo;

// KB of L2 cache per logical processor, the argument each worker hands to the
// engine: L2PerPackage x PackageCount x L2Size / LogicalCount, or 0 when a
// count is 0 (identification stopped early).
int l2KbPerLogical(const SystemInfo &info = m_SystemInfo);

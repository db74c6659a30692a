#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <vector>

// Instruction-set extension bits of SystemInfo::Instructions.
enum InstructionBits : uint32_t {
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
  // Listed only when the operating system saves the registers they use.
  INS_AVX = 0x0800,
  INS_AVX2 = 0x1000,
  INS_FMA3 = 0x2000,
  INS_AVX512F = 0x4000,
};

enum CpuVendor : uint8_t {
  VENDOR_UNKNOWN = 0,
  VENDOR_INTEL = 1,
  VENDOR_AMD = 2
};

// Identifiers are 32-bit: the extended topology leaves give x2APIC ids.
struct ApicInfo {
  uint32_t ApicId;
  uint32_t PackageId;
  uint32_t CoreId;
  uint32_t LogicalId;
};

// Core types of leaf 0x1A on hybrid processors.
enum CoreType : uint8_t {
  CORE_TYPE_NONE = 0,
  CORE_TYPE_EFFICIENT = 0x20,
  CORE_TYPE_PERFORMANCE = 0x40
};

// Level-2 caches of one size in each package.
struct L2Group {
  uint16_t PerPackage;
  uint16_t SizeKb;
};

// What the identification knows about the machine. Cleared as a whole
// (m_SystemInfo = SystemInfo{}) before each identification.
struct SystemInfo {
  char ProcessorName[48];
  uint8_t Vendor;
  uint8_t Family; // base family, leaf 1 EAX bits 11..8
  uint8_t Model;  // base model, leaf 1 EAX bits 7..4
  uint8_t Stepping;
  uint32_t Instructions;
  double Frequency;    // MHz
  double TscFrequency; // MHz, the time-stamp counter's rate at start-up
  uint8_t bConstantTsc;
  uint8_t bAperf;
  uint8_t TjMax; // °C, 0 when unknown
  uint16_t L2PerPackage;
  uint16_t L2Size;       // KB of one L2 cache, 0 when unknown
  uint16_t LogicalCount; // processors the process may run on
  uint16_t OnlineCount;  // processors of the system
  uint16_t PackageCount;
  uint16_t CoresPerPackage;
  uint16_t LogicalPerPackage;
  // 0 not applicable, 1 supported but not active, 2 active.
  uint8_t HyperThreading;
  uint16_t InactiveCores;
  // Hybrid processors: cores of each type in one package, else both 0.
  uint16_t PerformanceCores;
  uint16_t EfficientCores;
  // From the topology leaves: every distinct L2 cache seen, grouped by size
  // in the order met; empty when the count came from the legacy fields.
  L2Group L2Groups[3];
  uint32_t L2TotalKb; // sum over the distinct L2 caches
  // KB of L2 a tested processor has to itself: its cache's size over the
  // online processors sharing it, the smallest among the tested processors.
  uint32_t L2ShareKb;
  // One entry per logical processor the process may run on, in increasing
  // order of processor number: that number, and its APIC identifiers.
  std::vector<int> Processor;
  std::vector<ApicInfo> Apic;
};

extern SystemInfo m_SystemInfo;

// KB of L2 cache per logical processor, the argument each worker hands to the
// engine: L2ShareKb, 0 when the identification found no L2 or stopped early.
int l2KbPerLogical(const SystemInfo &info = m_SystemInfo);

#pragma once

#include "platform/CpuAccess.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class FakePlatform;

// A processor described by tables, for tests. Which logical processor answers
// CPUID and MSR reads follows the fake platform's pinning of the calling
// thread (the lowest processor of currentAffinity); the counters run against
// the fake clock, and spin() advances that clock instead of burning time.
class RecordedProcessor : public CpuAccess {
public:
  static constexpr int ALL = -1;

  explicit RecordedProcessor(FakePlatform &fake);

  // CPUID. Unrecorded leaves read as zeroes; a leaf recorded for one
  // processor wins over the same leaf recorded for all.
  void setLeaf(uint32_t leaf, uint32_t subleaf, CpuidResult r,
               int processor = ALL);
  // Leaf 0 with the 12-character vendor text in EBX, EDX, ECX.
  void setVendor(const std::string &vendor, uint32_t highestLeaf);
  // Leaves 0x80000002..0x80000004 (48 bytes, padded with NULs) and leaf
  // 0x80000000 with highestExtendedLeaf.
  void setBrandString(const std::string &brand,
                      uint32_t highestExtendedLeaf = 0x80000004);
  // Overrides leaf 1 EBX bits 31..24 on one processor.
  void setApicId(int processor, uint8_t apicId);
  // Leaf 1 EAX layout: stepping 3..0, model 7..4, family 11..8, extended
  // model 19..16, extended family 27..20.
  static uint32_t signature(unsigned family, unsigned model, unsigned stepping,
                            unsigned extendedFamily = 0,
                            unsigned extendedModel = 0);

  // XCR0 as the operating system set it (x87, SSE and AVX states: 0x7).
  uint64_t xcr0 = 0x7;

  // MSRs. Reads of unrecorded or failing registers fail.
  void setMsr(uint32_t msr, uint64_t value, int processor = ALL);
  std::set<uint32_t> failingMsrs;
  std::vector<uint32_t> msrReads; // every attempted read, in order

  // The right needed for MSRs.
  bool privilegeAvailable = true;
  int privilegeHeld = 0; // enables minus disables
  int privilegeEnables = 0;

  // Counters in cycles per microsecond of the fake clock. aperfMHz 0 leaves
  // MSR 0xE8 to the table; otherwise it counts at that rate.
  uint64_t tscMHz = 2400;
  uint64_t aperfMHz = 0;
  // When not empty, rdtsc returns these first, in order.
  std::deque<uint64_t> tscReadings;

  int currentProcessor() const;

  CpuidResult cpuid(uint32_t leaf, uint32_t subleaf) override;
  uint64_t rdtsc() override;
  uint64_t xgetbv(uint32_t index) override;
  void spin(int ms) override;
  bool setPrivilege(const char *name, bool enable) override;
  bool readMsr(uint32_t msr, uint64_t *value) override;
  bool readMsrOf(int cpu, uint32_t msr, uint64_t *value) override;

private:
  using LeafKey = std::pair<uint32_t, uint32_t>;
  uint64_t cyclesAt(uint64_t mhz) const;
  bool msrOf(int cpu, uint32_t msr, uint64_t *value);

  FakePlatform &fake_;
  std::map<int, std::map<LeafKey, CpuidResult>> leaves_;
  std::map<int, std::map<uint32_t, uint64_t>> msrs_;
  std::map<int, uint8_t> apicIds_;
};

// Installs a recorded processor for the lifetime of a test scope.
class RecordedProcessorScope {
public:
  explicit RecordedProcessorScope(FakePlatform &fake)
      : cpu(fake), previous_(setCpuAccess(&cpu)) {}
  ~RecordedProcessorScope() { setCpuAccess(previous_); }
  RecordedProcessor cpu;

private:
  CpuAccess *previous_;
};

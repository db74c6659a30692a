#pragma once

#include "sysinfo/SystemInfo.h"

#include <cstdint>
#include <vector>

// Packages, cores, threads and L2 caches from the leaves made for them:
// CPUID 0x1F, else 0xB (Intel, and AMD where present), else AMD's
// 0x8000001E and 0x80000008. Processors with none of these keep the legacy
// count of CpuCount. The count is of the processors visited, each read while
// the calling thread runs on it.
namespace sysinfo {

// How an APIC identifier splits into thread, core and package, and which
// leaves describe a processor; read once, on the first processor.
struct TopologyLayout {
  bool fromLeaves = false;   // false: the legacy fields apply
  uint32_t apicLeaf = 1;     // 0x1F, 0xB, 0x8000001E, or 1 (EBX 31..24)
  uint32_t cacheLeaf = 0;    // 4, 0x8000001D, or 0 for none
  bool hybrid = false;       // leaf 0x1A names each core's type
  unsigned smtShift = 0;     // identifier bits of the threads of one core
  unsigned packageShift = 0; // identifier bits below the package
  bool smtCapable = false;   // a core may run several threads
  // A package's logical processors and a core's threads as the processor is
  // built, whatever is offline or out of reach; 0 when the leaves say not.
  unsigned packageLogical = 0;
  unsigned coreThreads = 0;
};

TopologyLayout readTopologyLayout(uint8_t vendor);

// What the processor the calling thread runs on says of itself.
struct ProcessorPlace {
  uint32_t apicId = 0;
  uint8_t coreType = CORE_TYPE_NONE;
  uint32_t l2Kb = 0;      // 0 when no cache leaf describes its L2
  unsigned l2Shift = 0;   // identifier bits of the processors sharing the L2
  unsigned l2Sharing = 0; // processors the L2 may serve, as its leaf says
};

ProcessorPlace readProcessorPlace(const TopologyLayout &layout);

// The processor's entry of the APIC table.
ApicInfo apicInfo(const TopologyLayout &layout, uint32_t apicId);

// PackageCount, CoresPerPackage (and each type's count on hybrid
// processors), LogicalPerPackage, HyperThreading, InactiveCores and the L2
// fields. The processor is described as it is built, from the leaves, and
// the packages from the system's online count, however few processors the
// process may run on; cores missing from the processors visited are
// inactive when every online processor was visited. Hybrid processors, whose
// cores differ, are described from the processors visited. A processor
// without an L2 described by a cache leaf counts one cache of L2Size per
// core.
void summariseTopology(const TopologyLayout &layout,
                       const std::vector<ProcessorPlace> &places,
                       SystemInfo &info);

} // namespace sysinfo

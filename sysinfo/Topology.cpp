#include "sysinfo/Topology.h"

#include "platform/CpuAccess.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace sysinfo {

namespace {

// A hypervisor may report sub-leaves without end; real processors list a
// handful of levels and caches.
const uint32_t MAX_SUBLEAVES = 64;
const unsigned LEVEL_TYPE_SMT = 1;
const unsigned CACHE_TYPE_INSTRUCTION = 2;
const unsigned FAMILY_ZEN = 0x17; // 0x8000001E counts threads, not cores

CpuidResult cpuid(uint32_t leaf, uint32_t subleaf = 0) {
  return cpuAccess().cpuid(leaf, subleaf);
}

bool bit(uint32_t reg, int n) { return (reg >> n) & 1; }

// Smallest S with 2^S >= count.
unsigned shiftFor(unsigned count) {
  unsigned s = 0;
  while (s < 31 && (1u << s) < count)
    ++s;
  return s;
}

unsigned fullFamily() {
  uint32_t signature = cpuid(1).eax;
  unsigned family = (signature >> 8) & 0xF;
  return family == 0xF ? family + ((signature >> 20) & 0xFF) : family;
}

// Leaf 0x1F or 0xB: one sub-leaf per level, from the threads up; EAX 4..0 is
// the identifier shift to the next level, ECX 15..8 the level type. A leaf
// whose first level counts no processor is absent.
bool readExtendedLeaf(uint32_t leaf, TopologyLayout &layout) {
  bool found = false;
  for (uint32_t sub = 0; sub < MAX_SUBLEAVES; ++sub) {
    CpuidResult r = cpuid(leaf, sub);
    unsigned type = (r.ecx >> 8) & 0xFF;
    if (type == 0 || (sub == 0 && (r.ebx & 0xFFFF) == 0))
      break;
    unsigned shift = r.eax & 0x1F;
    // EBX counts the processors of this level; the last level's are the
    // package's.
    if (type == LEVEL_TYPE_SMT) {
      layout.smtShift = shift;
      layout.coreThreads = r.ebx & 0xFFFF;
    }
    layout.packageShift = shift;
    layout.packageLogical = r.ebx & 0xFFFF;
    found = true;
  }
  if (found) {
    layout.apicLeaf = leaf;
    layout.smtCapable = layout.smtShift > 0;
  }
  return found;
}

// AMD: 0x80000008 ECX gives the package's thread count (7..0, minus one) and
// identifier size (15..12); with topology extensions, 0x8000001E gives the
// extended APIC id (EAX) and, from Zen on, the threads per core (EBX 15..8,
// minus one; before Zen it counts the cores of a compute unit).
bool readAmdLeaves(uint32_t highestExtended, TopologyLayout &layout) {
  if (highestExtended < 0x80000008)
    return false;
  uint32_t ecx = cpuid(0x80000008).ecx;
  bool extensions =
      highestExtended >= 0x8000001E && bit(cpuid(0x80000001).ecx, 22);
  // A single-core processor leaves the fields at 0; the legacy count of it
  // is the same.
  if (!extensions && (ecx & 0xF0FF) == 0)
    return false;
  unsigned idSize = (ecx >> 12) & 0xF;
  layout.packageShift = idSize ? idSize : shiftFor((ecx & 0xFF) + 1);
  layout.packageLogical = (ecx & 0xFF) + 1;
  layout.coreThreads = 1;
  if (extensions) {
    layout.apicLeaf = 0x8000001E;
    if (highestExtended >= 0x8000001D)
      layout.cacheLeaf = 0x8000001D;
    if (fullFamily() >= FAMILY_ZEN) {
      unsigned threads = ((cpuid(0x8000001E).ebx >> 8) & 0xFF) + 1;
      layout.smtShift = shiftFor(threads);
      layout.smtCapable = threads > 1;
      layout.coreThreads = threads;
    }
  }
  return true;
}

uint32_t apicIdHere(const TopologyLayout &layout) {
  switch (layout.apicLeaf) {
  case 0x1F:
  case 0xB:
    return cpuid(layout.apicLeaf).edx;
  case 0x8000001E:
    return cpuid(layout.apicLeaf).eax;
  default:
    return cpuid(1).ebx >> 24;
  }
}

// Leaf 4 and 0x8000001D share their layout: EAX 4..0 type (0 ends the
// list), 7..5 level, 25..14 processors sharing minus one; EBX ways,
// partitions and line size, ECX sets, each minus one. The last L2 wins.
void readL2(uint32_t leaf, ProcessorPlace &place) {
  for (uint32_t sub = 0; sub < MAX_SUBLEAVES; ++sub) {
    CpuidResult r = cpuid(leaf, sub);
    unsigned type = r.eax & 0x1F;
    if (type == 0)
      break;
    if (((r.eax >> 5) & 0x7) != 2 || type == CACHE_TYPE_INSTRUCTION)
      continue;
    uint64_t bytes = uint64_t((r.ebx >> 22) + 1) *
                     (((r.ebx >> 12) & 0x3FF) + 1) * ((r.ebx & 0xFFF) + 1) *
                     (uint64_t(r.ecx) + 1);
    place.l2Kb = uint32_t(std::min<uint64_t>(bytes / 1024, UINT16_MAX));
    place.l2Sharing = ((r.eax >> 14) & 0xFFF) + 1;
    place.l2Shift = shiftFor(place.l2Sharing);
  }
}

struct CoreRecord {
  uint8_t type = CORE_TYPE_NONE;
  unsigned threads = 0;
};

struct PackageRecord {
  std::map<uint32_t, CoreRecord> cores;
  unsigned logical = 0;
};

// Hybrid processors: each distinct cache seen, grouped by size. A cache's
// sharers are the processors visited that it serves.
void summariseL2(const TopologyLayout &layout,
                 const std::vector<ProcessorPlace> &places, SystemInfo &info) {
  using Cache = std::pair<unsigned, uint32_t>; // sharing width, identifier
  const auto cacheOf = [&](const ProcessorPlace &p) {
    unsigned shift = p.l2Kb ? p.l2Shift : layout.smtShift;
    return Cache{shift, p.apicId >> shift};
  };
  std::map<Cache, unsigned> sharers;
  for (const ProcessorPlace &p : places)
    ++sharers[cacheOf(p)];
  std::set<Cache> seen;
  std::vector<unsigned> counts(3, 0);
  for (const ProcessorPlace &p : places) {
    uint32_t kb = p.l2Kb ? p.l2Kb : info.L2Size;
    if (kb == 0)
      continue;
    const unsigned share = kb / sharers[cacheOf(p)];
    if (!info.L2ShareKb || share < info.L2ShareKb)
      info.L2ShareKb = share;
    if (!seen.insert(cacheOf(p)).second)
      continue;
    info.L2TotalKb += kb;
    for (size_t g = 0; g < counts.size(); ++g) {
      L2Group &group = info.L2Groups[g];
      if (group.SizeKb == 0)
        group.SizeKb = uint16_t(kb);
      if (group.SizeKb == kb) {
        ++counts[g];
        break;
      }
    }
  }
  unsigned packages = std::max<unsigned>(info.PackageCount, 1);
  for (size_t g = 0; g < counts.size(); ++g)
    info.L2Groups[g].PerPackage =
        uint16_t((counts[g] + packages - 1) / packages);
  info.L2Size = info.L2Groups[0].SizeKb;
  info.L2PerPackage = info.L2Groups[0].PerPackage;
}

// The processor as the leaves of the first one visited describe it.
void describeFromLeaves(const TopologyLayout &layout,
                        const std::vector<ProcessorPlace> &places,
                        unsigned coresSeen, SystemInfo &info) {
  const unsigned logical = layout.packageLogical;
  const unsigned threads = std::min(layout.coreThreads, logical);
  const unsigned cores = std::max(1u, logical / threads);
  const unsigned online =
      std::max<unsigned>(info.OnlineCount, unsigned(places.size()));
  const unsigned packages =
      std::max<unsigned>(info.PackageCount, (online + logical - 1) / logical);
  info.PackageCount = uint16_t(packages);
  info.CoresPerPackage = uint16_t(cores);
  info.LogicalPerPackage = uint16_t(logical);
  info.PerformanceCores = info.EfficientCores = 0;
  // More processors online than cores: the second threads are on.
  info.HyperThreading = threads > 1 && online > packages * cores ? 2
                        : layout.smtCapable                      ? 1
                                                                 : 0;
  if (places.size() == online && coresSeen < packages * cores)
    info.InactiveCores = uint16_t(packages * cores - coresSeen);

  const ProcessorPlace &first = places.front();
  const unsigned kb = first.l2Kb ? first.l2Kb : info.L2Size;
  const unsigned sharing =
      std::clamp(first.l2Kb ? first.l2Sharing : threads, 1u, logical);
  const unsigned caches = (logical + sharing - 1) / sharing;
  info.L2Size = uint16_t(kb);
  info.L2PerPackage = uint16_t(caches);
  info.L2Groups[0] = L2Group{uint16_t(caches), uint16_t(kb)};
  info.L2TotalKb = kb * caches * packages;
  // The second threads of a core that has them switched off share nothing.
  const unsigned sharers =
      info.HyperThreading == 2 ? sharing : std::max(1u, sharing / threads);
  info.L2ShareKb = kb / sharers;
}

} // namespace

TopologyLayout readTopologyLayout(uint8_t vendor) {
  TopologyLayout layout;
  uint32_t highest = cpuid(0).eax;
  uint32_t highestExtended = cpuid(0x80000000).eax;
  bool topology = false;
  for (uint32_t leaf : {0x1Fu, 0xBu})
    if (!topology && highest >= leaf)
      topology = readExtendedLeaf(leaf, layout);
  if (!topology && vendor == VENDOR_AMD)
    topology = readAmdLeaves(highestExtended, layout);
  if (!topology)
    return TopologyLayout{};
  layout.fromLeaves = true;
  if (vendor == VENDOR_AMD) {
    if (highestExtended >= 0x8000001D && bit(cpuid(0x80000001).ecx, 22))
      layout.cacheLeaf = 0x8000001D;
  } else if (highest >= 4) {
    layout.cacheLeaf = 4;
  }
  layout.hybrid = highest >= 0x1A && bit(cpuid(7).edx, 15);
  return layout;
}

ProcessorPlace readProcessorPlace(const TopologyLayout &layout) {
  ProcessorPlace place;
  place.apicId = apicIdHere(layout);
  if (layout.hybrid)
    place.coreType = uint8_t(cpuid(0x1A).eax >> 24);
  if (layout.cacheLeaf)
    readL2(layout.cacheLeaf, place);
  return place;
}

ApicInfo apicInfo(const TopologyLayout &layout, uint32_t apicId) {
  uint32_t inPackage =
      layout.packageShift >= 32
          ? apicId
          : apicId & ((uint32_t(1) << layout.packageShift) - 1);
  uint32_t package =
      layout.packageShift >= 32 ? 0 : apicId >> layout.packageShift;
  return ApicInfo{apicId, package, inPackage >> layout.smtShift, inPackage};
}

void summariseTopology(const TopologyLayout &layout,
                       const std::vector<ProcessorPlace> &places,
                       SystemInfo &info) {
  std::map<uint32_t, PackageRecord> packages;
  bool threadsShareACore = false;
  for (const ProcessorPlace &p : places) {
    ApicInfo id = apicInfo(layout, p.apicId);
    PackageRecord &package = packages[id.PackageId];
    ++package.logical;
    CoreRecord &core = package.cores[id.CoreId];
    if (core.threads++ == 0)
      core.type = p.coreType;
    else
      threadsShareACore = true;
  }

  info.PackageCount = uint16_t(packages.size());
  info.CoresPerPackage = 0;
  info.LogicalPerPackage = 0;
  info.PerformanceCores = info.EfficientCores = 0;
  for (const auto &entry : packages) {
    const PackageRecord &package = entry.second;
    info.LogicalPerPackage =
        std::max<uint16_t>(info.LogicalPerPackage, uint16_t(package.logical));
    if (package.cores.size() <= info.CoresPerPackage)
      continue;
    info.CoresPerPackage = uint16_t(package.cores.size());
    unsigned performance = 0, efficient = 0;
    for (const auto &core : package.cores) {
      performance += core.second.type == CORE_TYPE_PERFORMANCE;
      efficient += core.second.type == CORE_TYPE_EFFICIENT;
    }
    bool mixed = performance && efficient;
    info.PerformanceCores = uint16_t(mixed ? performance : 0);
    info.EfficientCores = uint16_t(mixed ? efficient : 0);
  }
  info.HyperThreading = threadsShareACore ? 2 : layout.smtCapable ? 1 : 0;
  info.InactiveCores = 0;
  if (!layout.hybrid && layout.packageLogical && layout.coreThreads &&
      !places.empty()) {
    unsigned coresSeen = 0;
    for (const auto &entry : packages)
      coresSeen += unsigned(entry.second.cores.size());
    describeFromLeaves(layout, places, coresSeen, info);
  } else {
    summariseL2(layout, places, info);
  }
}

} // namespace sysinfo

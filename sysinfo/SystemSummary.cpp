#include "sysinfo/SystemSummary.h"

#include "platform/Platform.h"
#include "sysinfo/CpuPrimitives.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/Identification.h"
#include "sysinfo/Topology.h"

#include <QStringList>
#include <QSysInfo>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace sysinfo {

namespace {

const uint32_t MSR_PLATFORM_ID = 0x17;
const uint32_t MSR_TEMPERATURE_TARGET = 0x1A2; // TjMax in bits 23..16
const unsigned FIRST_NEHALEM_MODEL = 0x1A;

// Smallest S with 2^S >= count.
unsigned apicShift(unsigned count) {
  unsigned s = 0;
  while ((1u << s) < count)
    ++s;
  return s;
}

ApicInfo apicEntry(uint32_t ebx, unsigned shift, unsigned coresPerPackage) {
  if (ebx == 0)
    return ApicInfo{};
  uint32_t id = ebx >> 24;
  uint32_t low = id & ((1u << shift) - 1);
  return ApicInfo{id, id >> shift, coresPerPackage > 1 ? low : 0, low};
}

void countPackages(SystemInfo &info) {
  // Before any identification the core count is still 0; one core per
  // package is then the only count that divides.
  unsigned cores = info.CoresPerPackage ? info.CoresPerPackage : 1;
  if (info.Vendor == VENDOR_INTEL && info.HyperThreading == 1 &&
      info.LogicalPerPackage > info.CoresPerPackage) {
    std::set<uint32_t> packages;
    for (int i = 0; i < info.LogicalCount; ++i)
      packages.insert(info.Apic[i].PackageId);
    info.PackageCount = uint16_t(packages.size());
    info.HyperThreading =
        info.LogicalCount == info.PackageCount * cores ? 1 : 2;
    return;
  }
  info.HyperThreading = 0;
  // The system's processors, not the ones the process may run on.
  const unsigned online = std::max(info.OnlineCount, info.LogicalCount);
  unsigned packages = online / cores;
  if (packages * cores < online) {
    ++packages;
    info.InactiveCores = uint16_t(packages * cores - online);
  }
  info.PackageCount = uint16_t(packages);
}

// The L2 each tested processor has to itself: its size over the online
// processors that share it.
void shareL2(SystemInfo &info) {
  const unsigned caches = unsigned(info.L2PerPackage) * info.PackageCount;
  if (caches == 0)
    return;
  const unsigned online = std::max(info.OnlineCount, info.LogicalCount);
  info.L2ShareKb = info.L2Size / std::max(1u, (online + caches - 1) / caches);
  info.L2TotalKb = info.L2Size * caches;
}

// Intel's documented limits for processors whose MSR_TEMPERATURE_TARGET
// cannot be read: the Core 2 rules by base model, then 90 °C for the Atoms
// of display models 0x1C, 0x26, 0x27 and 0x35 and 100 °C from Nehalem on.
uint8_t documentedTjMax(const SystemInfo &info) {
  Cpuid(1, 0);
  unsigned displayModel = info.Model | ((i_eax >> 12) & 0xF0);
  if (info.Family != 6)
    return 85;
  switch (displayModel) {
  case 0x0E:
    return 100;
  case 0x0F: {
    uint32_t high = uint32_t(Rdmsr(MSR_PLATFORM_ID) >> 32);
    if (high >= 0x40000 || info.Stepping == 2 || info.Stepping > 6)
      return 100;
    return 85;
  }
  case 0x1C:
  case 0x26:
  case 0x27:
  case 0x35:
    return 90;
  default:
    return displayModel >= FIRST_NEHALEM_MODEL ? 100 : 85;
  }
}

void chooseTjMax(SystemInfo &info) {
  if (info.Vendor != VENDOR_INTEL)
    return;
  Cpuid(6, 0);
  if (!(i_eax & 1))
    return;
  uint32_t high = 0, low = 0;
  uint8_t target = 0;
  if (bReadMSR_Win32(MSR_TEMPERATURE_TARGET, &high, &low))
    target = uint8_t(low >> 16);
  info.TjMax = target ? target : documentedTjMax(info);
}

} // namespace

int InitialiseSystem(CpuSet *processMask, const SystemReport &report) {
  SystemInfo &info = m_SystemInfo;
  Platform &p = platform();
  info = SystemInfo{};

  CpuSet process, system;
  if (!p.getProcessAffinityMask(&process, &system)) {
    report.logLine("Get Affinity Mask Error.");
    return 0;
  }
  *processMask = process;
  if (process.empty()) {
    report.warning("Vorsk ne peut accéder à tous les processeurs logiques !");
    return 0;
  }
  std::vector<int> allowed = process.members();
  if (allowed.size() > UINT16_MAX) {
    report.warning(
        "Votre systeme possède un nombre incorrect de processeurs logique.");
    return 0;
  }
  info.LogicalCount = uint16_t(allowed.size());
  info.OnlineCount = uint16_t(
      std::min<int>(std::max(system.count(), int(allowed.size())), UINT16_MAX));
  info.Processor = allowed;
  info.Apic.assign(allowed.size(), ApicInfo{});

  unsigned shift = 0;
  TopologyLayout layout;
  std::vector<ProcessorPlace> places;
  for (size_t i = 0; i < allowed.size(); ++i) {
    if (!p.setProcessAffinityMask(CpuSet::single(allowed[i]))) {
      report.logLine("SetProcessAffinityMask Error.");
      continue;
    }
    p.sleep(16);
    if (i == 0) {
      CheckCpuType();
      MeasureFrequency();
      CheckInstructions();
      CpuCount();
      shift = apicShift(info.LogicalPerPackage);
      layout = readTopologyLayout(info.Vendor);
    }
    if (layout.fromLeaves) {
      places.push_back(readProcessorPlace(layout));
      info.Apic[i] = apicInfo(layout, places.back().apicId);
      continue;
    }
    Cpuid(1, 0);
    info.Apic[i] = apicEntry(i_ebx, shift, info.CoresPerPackage);
  }
  if (!p.setProcessAffinityMask(process))
    report.logLine("SetProcessAffinityMask Error.");

  if (layout.fromLeaves)
    summariseTopology(layout, places, info);
  else {
    countPackages(info);
    shareL2(info);
  }
  chooseTjMax(info);
  return 1;
}

QString windowTitle() {
  return QString("Vorsk 1.0.4 (%1)").arg(QSysInfo::prettyProductName());
}

QString instructionsText(uint32_t instructions) {
  if (instructions == INS_FPU)
    return "FPU x87";
  static const struct {
    uint32_t bit;
    const char *text;
  } pieces[] = {
      {INS_MMX, "MMX"},
      {INS_3DNOW, ", 3DNow!"},
      {INS_SSE, ", SSE"},
      {INS_SSE2, ", SSE2"},
      {INS_SSE3, ", SSE3"},
      {INS_SSSE3, ", SSSE3"},
      {INS_SSE4A, ", SSE4a"},
      {INS_SSE41, ", SSE4.1"},
      {INS_SSE42, ", SSE4.2"},
      {INS_AVX, ", AVX"},
      {INS_AVX2, ", AVX2"},
      {INS_FMA3, ", FMA3"},
      {INS_AVX512F, ", AVX-512F"},
      {INS_X86_64, ", x86-64"},
  };
  QString text;
  for (const auto &piece : pieces)
    if (instructions & piece.bit)
      text += piece.text;
  return text;
}

QString shortInstructionsText(uint32_t instructions) {
  QStringList parts;
  if (instructions & INS_SSE) {
    static const struct {
      uint32_t bit;
      const char *text;
    } sse[] = {{INS_SSE42, "SSE4.2"},
               {INS_SSE41, "SSE4.1"},
               {INS_SSSE3, "SSSE3"},
               {INS_SSE3, "SSE3"},
               {INS_SSE2, "SSE2"}};
    QString range = "SSE";
    for (const auto &level : sse)
      if (instructions & level.bit) {
        range += QString::fromUtf8(" → ") + level.text;
        break;
      }
    parts << range;
  }
  if (instructions & INS_SSE4A)
    parts << "SSE4a";
  if (instructions & (INS_AVX | INS_AVX2))
    parts << (instructions & INS_AVX2 ? "AVX2" : "AVX");
  if (instructions & INS_FMA3)
    parts << "FMA3";
  if (instructions & INS_AVX512F)
    parts << "AVX-512";
  if (instructions & INS_X86_64)
    parts << "x86-64";
  return parts.join(", ");
}

QString cacheL2Text(const SystemInfo &info) {
  if (info.L2Size == 0)
    return QString();
  if (info.CoresPerPackage <= 1)
    return QString::asprintf("%dKo", int(info.L2Size));
  QStringList groups;
  for (const L2Group &group : info.L2Groups)
    if (group.PerPackage)
      groups << QString::asprintf("%d x %dKo", int(group.PerPackage),
                                  int(group.SizeKb));
  if (groups.isEmpty())
    groups << QString::asprintf("%d x %dKo", int(info.L2PerPackage),
                                int(info.L2Size));
  return groups.join(" + ");
}

QString configurationText(const SystemInfo &info) {
  QString text =
      info.PackageCount == 1
          ? QString("1 Processeur")
          : QString::asprintf("%d Processeurs", int(info.PackageCount));
  static const char *const words[] = {" Multicore", " Monocore", " Dualcore",
                                      " Tricore", " Quadcore"};
  if (info.PerformanceCores && info.EfficientCores)
    text += QString::asprintf(" %dP+%dE cores", int(info.PerformanceCores),
                              int(info.EfficientCores));
  else if (info.CoresPerPackage > 4)
    text += QString::asprintf(" %d cores", int(info.CoresPerPackage));
  else
    text += words[info.CoresPerPackage];
  if (info.HyperThreading == 2)
    text += " HT On";
  else if (info.HyperThreading == 1)
    text += " HT Off";
  if (info.InactiveCores == 1)
    text += " (1 core inactif)";
  else if (info.InactiveCores > 1)
    text += QString::asprintf(" (%d cores inactifs)", int(info.InactiveCores));
  return text;
}

QString processorNameText(const SystemInfo &info) {
  return QString::fromLatin1(
      info.ProcessorName,
      int(strnlen(info.ProcessorName, sizeof info.ProcessorName)));
}

} // namespace sysinfo

#include "RecordedMachine.h"

#include "stress/RunReport.h"
#include "sysinfo/SystemSummary.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <cstring>

// Processors since 2008 as the identification shows them. Each machine is
// recorded from the leaf layouts in Intel's SDM (leaves 1, 4, 7, 0xB, 0x1A,
// 0x1F) and AMD's PPRs (0x80000001, 0x80000008, 0x8000001D, 0x8000001E),
// filled with the machine's published configuration: signature, brand
// string, feature flags, cores, threads, L2 size and associativity. Linux
// numbers the processors: the first thread of every core (package after
// package), then the second threads, then the efficient cores.
namespace {

const uint32_t EDX1 = 1u | 1u << 23 | 1u << 25 | 1u << 26 | 1u << 28;
const uint32_t SSE4 = 1u | 1u << 9 | 1u << 19 | 1u << 20; // SSE3 to SSE4.2
const uint32_t AVX = SSE4 | 1u << 27 | 1u << 28;          // OSXSAVE, AVX
const uint32_t FMA = AVX | 1u << 12;
const uint32_t AVX2 = 1u << 5, AVX512F = 1u << 16; // leaf 7 EBX
const uint32_t HYBRID = 1u << 15;                  // leaf 7 EDX
const uint32_t AMD_LEAVES = 0;                     // no 0xB nor 0x1F

struct Cpu {
  const char *vendor;
  uint32_t signature, highest, highestExtended;
  const char *brand;
  uint32_t ecx1, ebx7, edx7;
  uint64_t xcr0;
};
// Per package: performance (or only) cores, efficient cores, threads of a
// performance core; APIC id shifts of the core and package levels; the first
// efficient core's core number. Then the L2 of a core (KB, ways) and of an
// efficient-core cluster (KB, ways, cores).
struct Topology {
  uint32_t leaf;
  unsigned packages, cores, eCores, threads, smtShift, packageShift, eFirst;
  unsigned l2Kb, l2Ways, eL2Kb, eL2Ways, eCluster;
};
struct Shown {
  const char *name; // nullptr: the brand string as it is
  const char *configuration, *l2, *instructions;
  int argument;
};
struct Machine {
  const char *row;
  Cpu cpu;
  Topology topology;
  Shown shown;
  uint64_t allowed = 0; // processors the process may run on, 0 for all
  uint64_t offline = 0; // processors switched off
};

const char NEHALEM[] = "MMX, SSE, SSE2, SSE3, SSSE3, SSE4.1, SSE4.2, x86-64";
const char SANDY[] = "MMX, SSE, SSE2, SSE3, SSSE3, SSE4.1, SSE4.2, AVX, x86-64";
const char HASWELL[] =
    "MMX, SSE, SSE2, SSE3, SSSE3, SSE4.1, SSE4.2, AVX, AVX2, FMA3, x86-64";
const char ZEN[] = "MMX, SSE, SSE2, SSE3, SSSE3, SSE4a, SSE4.1, SSE4.2, AVX, "
                   "AVX2, FMA3, x86-64";
const char SKYLAKE_X[] = "MMX, SSE, SSE2, SSE3, SSSE3, SSE4.1, SSE4.2, AVX, "
                         "AVX2, FMA3, AVX-512F, x86-64";
const char ZEN4[] = "MMX, SSE, SSE2, SSE3, SSSE3, SSE4a, SSE4.1, SSE4.2, AVX, "
                    "AVX2, FMA3, AVX-512F, x86-64";

const Machine i7_8700K = {
    "i7-8700K",
    {"GenuineIntel", Sig::signature(6, 0xE, 10, 0, 9), 0x16, 0x80000008,
     "Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", FMA, AVX2, 0, 0x7},
    {0xB, 1, 6, 0, 2, 1, 4, 0, 256, 4, 0, 0, 0},
    {nullptr, "1 Processeur 6 cores HT On", "6 x 256Ko", HASWELL, 128}};
const Machine ryzen5800X = {
    "Ryzen 7 5800X",
    {"AuthenticAMD", Sig::signature(15, 1, 0, 0xA, 2), 0x10, 0x80000020,
     "AMD Ryzen 7 5800X 8-Core Processor             ", FMA, AVX2, 0, 0x7},
    {0xB, 1, 8, 0, 2, 1, 7, 0, 512, 8, 0, 0, 0},
    {"AMD Ryzen 7 5800X 8-Core Processor", "1 Processeur 8 cores HT On",
     "8 x 512Ko", ZEN, 256}};
// QEMU's Cascadelake model: 0xB but no 0x1F, one thread per core, and a
// guest that has not enabled the AVX-512 states.
const Machine guest = {
    "virtual machine with 0xB only",
    {"GenuineIntel", Sig::signature(6, 5, 6, 0, 5), 0xD, 0x80000008,
     "Intel Xeon Processor (Cascadelake)", FMA, AVX2 | AVX512F, 0, 0x7},
    {0xB, 1, 4, 0, 1, 0, 2, 0, 1024, 16, 0, 0, 0},
    {nullptr, "1 Processeur Quadcore", "4 x 1024Ko", HASWELL, 1024}};

// The same machine with processors kept from the process or switched off.
Machine variant(Machine x, const char *row, const char *configuration,
                uint64_t allowed, uint64_t offline) {
  x.row = row;
  x.shown.configuration = configuration;
  x.allowed = allowed;
  x.offline = offline;
  return x;
}

const Machine machines[] = {
    {"i7-920",
     {"GenuineIntel", Sig::signature(6, 0xA, 5, 0, 1), 0xB, 0x80000008,
      "Intel(R) Core(TM) i7 CPU         920  @ 2.67GHz", SSE4, 0, 0, 0x3},
     {0xB, 1, 4, 0, 2, 1, 4, 0, 256, 8, 0, 0, 0},
     {"Intel(R) Core(TM) i7 CPU 920 @ 2.67GHz", "1 Processeur Quadcore HT On",
      "4 x 256Ko", NEHALEM, 128}},
    {"2 x Xeon E5-2650",
     {"GenuineIntel", Sig::signature(6, 0xD, 7, 0, 2), 0xD, 0x80000008,
      "Intel(R) Xeon(R) CPU E5-2650 0 @ 2.00GHz", AVX, 0, 0, 0x7},
     {0xB, 2, 8, 0, 2, 1, 5, 0, 256, 8, 0, 0, 0},
     {nullptr, "2 Processeurs 8 cores HT On", "8 x 256Ko", SANDY, 128}},
    i7_8700K,
    {"i7-12700K",
     {"GenuineIntel", Sig::signature(6, 7, 2, 0, 9), 0x20, 0x80000008,
      "12th Gen Intel(R) Core(TM) i7-12700K", FMA, AVX2, HYBRID, 0x7},
     {0x1F, 1, 8, 4, 2, 1, 6, 16, 1280, 10, 2048, 16, 4},
     {nullptr, "1 Processeur 8P+4E cores HT On", "8 x 1280Ko + 1 x 2048Ko",
      HASWELL, 512}},
    ryzen5800X,
    // taskset -c 0,2,4: three cores whose second threads stay online.
    variant(ryzen5800X, "Ryzen 7 5800X tested on three processors",
            "1 Processeur 8 cores HT On", 0x15, 0),
    // Both threads of its last core switched off (processors 7 and 15).
    variant(ryzen5800X, "Ryzen 7 5800X with a core offline",
            "1 Processeur 8 cores HT On (1 core inactif)", 0,
            1u << 7 | 1u << 15),
    {"Ryzen 9 7950X",
     {"AuthenticAMD", Sig::signature(15, 1, 2, 0xA, 6), 0x10, 0x80000028,
      "AMD Ryzen 9 7950X 16-Core Processor            ", FMA, AVX2 | AVX512F, 0,
      0xE7},
     {0xB, 1, 16, 0, 2, 1, 7, 0, 1024, 8, 0, 0, 0},
     {"AMD Ryzen 9 7950X 16-Core Processor", "1 Processeur 16 cores HT On",
      "16 x 1024Ko", ZEN4, 512}},
    {"EPYC 7742",
     {"AuthenticAMD", Sig::signature(15, 1, 0, 8, 3), 0x10, 0x80000020,
      "AMD EPYC 7742 64-Core Processor                ", FMA, AVX2, 0, 0x7},
     {AMD_LEAVES, 1, 64, 0, 2, 1, 7, 0, 512, 8, 0, 0, 0},
     {"AMD EPYC 7742 64-Core Processor", "1 Processeur 64 cores HT On",
      "64 x 512Ko", ZEN, 256}},
    // A 32-socket system: 1024 processors, x2APIC ids beyond 255.
    {"32 x Xeon Platinum 8253",
     {"GenuineIntel", Sig::signature(6, 5, 7, 0, 5), 0x16, 0x80000008,
      "Intel(R) Xeon(R) Platinum 8253 CPU @ 2.20GHz", FMA, AVX2 | AVX512F, 0,
      0xE7},
     {0xB, 32, 16, 0, 2, 1, 6, 0, 1024, 16, 0, 0, 0},
     {nullptr, "32 Processeurs 16 cores HT On", "16 x 1024Ko", SKYLAKE_X, 512}},
    // taskset -c 0-3: the first thread of four cores.
    variant(i7_8700K, "i7-8700K restricted to four processors",
            "1 Processeur 6 cores HT On", 0xF, 0),
    guest,
};

// Leaf 4 / 0x8000001D describing a unified L2 of kb KB, 64-byte lines, one
// partition, shared by `sharing` logical processors.
CpuidResult l2Leaf(unsigned kb, unsigned ways, unsigned sharing) {
  unsigned sets = kb * 16 / ways;
  return {3u | 2u << 5 | (sharing - 1) << 14, (ways - 1) << 22 | 63u, sets - 1,
          0};
}

void record(RecordedMachine &m, const Machine &x) {
  RecordedProcessor &c = m.cpu;
  const Cpu &cpu = x.cpu;
  const Topology &t = x.topology;
  bool amd = std::string(cpu.vendor) == "AuthenticAMD";
  unsigned perPackage = t.cores * t.threads + t.eCores;
  c.setVendor(cpu.vendor, cpu.highest);
  c.setBrandString(cpu.brand, cpu.highestExtended);
  setLeaf1(c, cpu.signature, perPackage << 16, cpu.ecx1, EDX1);
  c.setLeaf(7, 0, {0, cpu.ebx7, 0, cpu.edx7});
  c.xcr0 = cpu.xcr0;
  c.setLeaf(0x80000001, 0, {0, 0, amd ? (1u << 6 | 1u << 22) : 0, 1u << 29});
  c.setLeaf(0x80000007, 0, {0, 0, 0, 1u << 8});
  c.setLeaf(0x80000008, 0,
            {0, 0, amd ? (t.packageShift << 12 | (perPackage - 1)) : 0, 0});
  // L1 data, L1 instruction, then L2 in the cache leaf.
  uint32_t cacheLeaf = amd ? 0x8000001D : 4;
  c.setLeaf(cacheLeaf, 0, {1u | 1u << 5, 0, 0, 0});
  c.setLeaf(cacheLeaf, 1, {2u | 1u << 5, 0, 0, 0});

  std::vector<std::pair<uint32_t, bool>> ids; // APIC id, efficient core
  for (unsigned th = 0; th < t.threads; ++th)
    for (unsigned p = 0; p < t.packages; ++p)
      for (unsigned core = 0; core < t.cores; ++core)
        ids.push_back({p << t.packageShift | core << t.smtShift | th, false});
  for (unsigned p = 0; p < t.packages; ++p)
    for (unsigned e = 0; e < t.eCores; ++e)
      ids.push_back({p << t.packageShift | (t.eFirst + e) << t.smtShift, true});

  for (int i = 0; i < int(ids.size()); ++i) {
    uint32_t id = ids[size_t(i)].first;
    bool efficient = ids[size_t(i)].second;
    c.setApicId(i, uint8_t(id));
    if (t.leaf != AMD_LEAVES) {
      c.setLeaf(t.leaf, 0, {t.smtShift, t.threads, 1u << 8, id}, i);
      c.setLeaf(t.leaf, 1, {t.packageShift, perPackage, 2u << 8 | 1, id}, i);
      c.setLeaf(t.leaf, 2, {0, 0, 2, id}, i);
    }
    if (amd)
      c.setLeaf(0x8000001E, 0, {id, (t.threads - 1) << 8 | id >> 1, 0, 0}, i);
    if (cpu.edx7 & HYBRID)
      c.setLeaf(0x1A, 0, {efficient ? 0x20000001u : 0x40000001u, 0, 0, 0}, i);
    unsigned kb = efficient ? t.eL2Kb : t.l2Kb;
    // Intel's efficient cores sit two identifiers apart: a cluster of four
    // spans eight.
    c.setLeaf(cacheLeaf, 2,
              efficient ? l2Leaf(kb, t.eL2Ways, t.eCluster << t.smtShift)
                        : l2Leaf(kb, t.l2Ways, t.threads),
              i);
    c.setLeaf(0x80000006, 0, {0, 0, kb << 16, 0}, i);
  }
  CpuSet all;
  for (int i = 0; i < int(ids.size()); ++i)
    if (!(x.offline >> i & 1))
      all.add(i);
  m.fake.systemMask = all;
  m.fake.processMask = x.allowed ? CpuSet(x.allowed) : all;
}

} // namespace

class TestMachines : public QObject {
  Q_OBJECT
private slots:
  void identification_data() {
    QTest::addColumn<int>("index");
    for (size_t i = 0; i < sizeof machines / sizeof machines[0]; ++i)
      QTest::newRow(machines[i].row) << int(i);
  }
  void identification() {
    QFETCH(int, index);
    const Shown &x = machines[index].shown;
    const char *name = x.name ? x.name : machines[index].cpu.brand;
    RecordedMachine m;
    record(m, machines[index]);
    Identified id;
    QCOMPARE(id.result, 1);
    QCOMPARE(id.log + id.warnings, QStringList());

    QCOMPARE(sysinfo::processorNameText(m_SystemInfo), QString(name));
    QCOMPARE(sysinfo::configurationText(m_SystemInfo),
             QString(x.configuration));
    QCOMPARE(sysinfo::cacheL2Text(m_SystemInfo), QString(x.l2));
    QCOMPARE(sysinfo::instructionsText(m_SystemInfo.Instructions),
             QString(x.instructions));
    QCOMPARE(l2KbPerLogical(), x.argument);
  }

  // The report's microcode, kernel and hypervisor, from recorded kernel
  // files and CPUID, on the four-processor guest of the table.
  void fleetRecord_data() {
    QTest::addColumn<QVariantMap>("files"); // path: contents
    QTest::addColumn<bool>("hypervisorBit");
    QTest::addColumn<QByteArray>("leaf40000000"); // EBX, ECX, EDX
    QTest::addColumn<QStringList>("microcode");   // processors 0 to 3; - none
    QTest::addColumn<QString>("vendor");          // empty: null

    const QString sysfs = "/sys/devices/system/cpu/cpu%1/microcode/version";
    const auto cpuinfo = [](const QStringList &revisions) {
      QString text;
      for (int cpu = 0; cpu < revisions.size(); ++cpu)
        text += QString("processor\t: %1\nvendor_id\t: GenuineIntel\n"
                        "microcode\t: %2\ncpu MHz\t\t: 2600.000\n\n")
                    .arg(cpu)
                    .arg(revisions[cpu]);
      return text;
    };
    // Bare metal answers a leaf beyond its last with its last basic leaf:
    // here a bus clock of 100 MHz, "d" as text.
    QTest::newRow("bare metal, microcode in sysfs")
        << QVariantMap{{sysfs.arg(0), "0x5003604\n"},
                       {sysfs.arg(1), "0x5003604\n"},
                       {sysfs.arg(2), "0x5003604\n"},
                       {sysfs.arg(3), "0x5003302\n"}}
        << false << QByteArray("d\0\0\0\0\0\0\0\0\0\0\0", 12)
        << QStringList{"0x5003604", "0x5003604", "0x5003604", "0x5003302"}
        << "";
    QTest::newRow("guest naming its hypervisor, microcode in /proc/cpuinfo")
        << QVariantMap{{"/proc/cpuinfo", cpuinfo({"0x1", "0x1", "0x2", "0x1"})}}
        << true << QByteArray("KVMKVMKVM\0\0\0", 12)
        << QStringList{"0x1", "0x1", "0x2", "0x1"} << "KVMKVMKVM";
    QTest::newRow("sysfs for some, /proc/cpuinfo for others, one unknown")
        << QVariantMap{{sysfs.arg(0), "0xb000040\n"},
                       {sysfs.arg(1), "0xb000040\n"},
                       {"/proc/cpuinfo",
                        cpuinfo({"0xb000038", "0xb000038", "0xb000038", ""})}}
        << true << QByteArray(12, '\0')
        << QStringList{"0xb000040", "0xb000040", "0xb000038", "-"} << "";
  }
  void fleetRecord() {
    QFETCH(QVariantMap, files);
    QFETCH(bool, hypervisorBit);
    QFETCH(QByteArray, leaf40000000);
    QFETCH(QString, vendor);

    RecordedMachine m;
    record(m, guest);
    CpuidResult leaf1 = m.cpu.cpuid(1, 0);
    leaf1.ecx = hypervisorBit ? leaf1.ecx | 1u << 31 : leaf1.ecx & ~(1u << 31);
    m.cpu.setLeaf(1, 0, leaf1);
    uint32_t words[3];
    memcpy(words, leaf40000000.constData(), sizeof words);
    m.cpu.setLeaf(0x40000000, 0, {0x40000001, words[0], words[1], words[2]});
    for (auto it = files.begin(); it != files.end(); ++it)
      m.fake.kernelTexts[it.key().toStdString()] =
          it.value().toString().toStdString();
    m.fake.release = "6.12.9-amd64";
    QCOMPARE(Identified().result, 1);

    RunReport report;
    report.machine = describeMachine(m_SystemInfo);
    const QJsonObject machine = runReportJson(report)["machine"].toObject();
    QStringList revisions;
    int processor = 0;
    for (const QJsonValue &entry : machine["microcode"].toArray()) {
      QCOMPARE(entry["logicalProcessor"].toInt(), processor++);
      revisions << (entry["revision"].isNull() ? "-"
                                               : entry["revision"].toString());
    }
    QTEST(revisions, "microcode");
    QCOMPARE(machine["kernelRelease"].toString(), QString("6.12.9-amd64"));
    QCOMPARE(machine["virtualMachine"].toBool(), hypervisorBit);
    QCOMPARE(machine["hypervisorVendor"].isNull(), vendor.isEmpty());
    QCOMPARE(machine["hypervisorVendor"].toString(), vendor);
  }
};

QTEST_GUILESS_MAIN(TestMachines)
#include "tst_machines.moc"

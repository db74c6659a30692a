#include "RecordedMachine.h"

#include "sysinfo/Identification.h"
#include "sysinfo/SystemInfo.h"

#include <QtTest>

#include <cstring>

using Decoded = QVector<int>; // vendor, family, model, stepping

namespace {
const uint32_t HTT = 1u << 28; // leaf 1 EDX: several logical per package

// Leaves 0 and 1, then what the row adds.
Recording cpu(const char *vendor, uint32_t highest, CpuidResult leaf1,
              Recording more = {}) {
  return [=](RecordedProcessor &c) {
    c.setVendor(vendor, highest);
    c.setLeaf(1, 0, leaf1);
    if (more)
      more(c);
  };
}
Recording intel(uint32_t highest, CpuidResult leaf1, Recording more = {}) {
  return cpu("GenuineIntel", highest, leaf1, more);
}
Recording subLeaves(uint32_t leaf, const std::vector<CpuidResult> &results) {
  return [=](RecordedProcessor &c) {
    for (size_t s = 0; s < results.size(); ++s)
      c.setLeaf(leaf, uint32_t(s), results[s]);
  };
}
Recording brand(const char *text) {
  return [=](RecordedProcessor &c) { c.setBrandString(text); };
}
} // namespace

class TestIdentification : public QObject {
  Q_OBJECT
private slots:
  void init() { m_SystemInfo = SystemInfo{}; }

  void cpuType_data() {
    QTest::addColumn<Recording>("record");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<Decoded>("decoded");
    QTest::addColumn<int>("l2Size");
    const auto row = [](const char *tag, Recording record, const char *name,
                        Decoded decoded, int l2Size = 0) {
      QTest::newRow(tag) << record << QByteArray(name) << decoded << l2Size;
    };
    row("AMD without brand leaves",
        cpu("AuthenticAMD", 1, {Sig::signature(6, 4, 2), 0, 0, 0},
            subLeaves(0x80000000, {{0x80000001, 0, 0, 0}})),
        "AuthenticAMD Family 6 Model 4 Stepping 2", {2, 6, 4, 2});
    row("highest basic leaf 0", intel(0, {Sig::signature(5, 2, 1), 0, 0, 0}),
        " Unknown CPU Family 5 Model 2 Stepping 1", {0, 5, 2, 1});
    row("Intel brand index 8", intel(2, {Sig::signature(15, 1, 2), 8, 0, 0}),
        "Intel(R) Pentium(R) 4 processor", {1, 15, 1, 2});
    row("Intel brand index 16", intel(2, {Sig::signature(6, 8, 3), 16, 0, 0}),
        "Intel(R) Processor Family 6 Model 8 Stepping 3", {1, 6, 8, 3});
    row("two-digit model and stepping cut to 47 characters",
        intel(2, {Sig::signature(15, 15, 11), 0, 0, 0}),
        "Intel(R) Processor Family 15 Model 15 Stepping ", {1, 15, 15, 11});
    row("family 15 with extended family",
        intel(5, {Sig::signature(15, 2, 9, 1), 0, 0, 0},
              brand("Intel(R) Pentium(R) 4 CPU 2.80GHz")),
        "Intel(R) Pentium(R) 4 CPU 2.80GHz", {1, 15, 2, 9});
    row("model 0x17",
        intel(10, {Sig::signature(6, 7, 6, 0, 1), 0, 0, 0},
              brand("              Intel(R) Core(TM)2 Duo CPU")),
        " Intel(R) Core(TM)2 Duo CPU", {1, 6, 7, 6});
    const CpuidResult pentiumM = {Sig::signature(6, 13, 6), 22, 0, 0};
    const char *pentiumMName = "Intel(R) Pentium(R) M processor";
    row("leaf 2 with 0x43 then 0x44",
        intel(2, pentiumM, subLeaves(2, {{0x01, 0, 0, 0x00004344}})),
        pentiumMName, {1, 6, 13, 6}, 1024);
    row("leaf 2: the later descriptor overrides",
        intel(2, pentiumM, subLeaves(2, {{0x01, 0x45, 0x45, 0x44000043}})),
        pentiumMName, {1, 6, 13, 6}, 512);
    row("leaf 2 without a known descriptor",
        intel(2, pentiumM, subLeaves(2, {{0x01, 0, 0, 0x01020304}})),
        pentiumMName, {1, 6, 13, 6});
    row("leaf 0x80000006 against leaf 2",
        intel(10, {Sig::signature(6, 15, 11), 0, 0, 0},
              [](RecordedProcessor &c) {
                c.setBrandString("Intel(R) Core(TM)2 CPU", 0x80000008);
                c.setLeaf(2, 0, {0x01, 0, 0, 0x00000045});
                c.setLeaf(0x80000006, 0, {0, 0, 4096u << 16 | 0x6040, 0});
              }),
        "Intel(R) Core(TM)2 CPU", {1, 6, 15, 11}, 4096);
  }
  void cpuType() {
    QFETCH(Recording, record);
    RecordedMachine m;
    record(m.cpu);

    QCOMPARE(sysinfo::CheckCpuType(), 1);
    QTEST(QByteArray(m_SystemInfo.ProcessorName), "name");
    QTEST((Decoded{m_SystemInfo.Vendor, m_SystemInfo.Family, m_SystemInfo.Model,
                   m_SystemInfo.Stepping}),
          "decoded");
    QTEST(int(m_SystemInfo.L2Size), "l2Size");
    QCOMPARE(m_SystemInfo.ProcessorName[47], '\0');
  }

  void brandString_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("normalised");
    QTest::newRow("right-aligned keeps one leading space")
        << QByteArray(14, ' ') + "Intel(R) Pentium(R) 4 CPU 3.00GHz"
        << QByteArray(" Intel(R) Pentium(R) 4 CPU 3.00GHz");
    QTest::newRow("engineering sample")
        << QByteArray("Genuine Intel(R) CPU") + QByteArray(11, ' ') +
               "0000 @ 2.40GHz"
        << QByteArray("Genuine Intel(R) CPU ES @ 2.40GHz");
    QTest::newRow("trailing spaces")
        << QByteArray("Intel(R) Xeon(TM) CPU 3.00GHz  ")
        << QByteArray("Intel(R) Xeon(TM) CPU 3.00GHz");
    QTest::newRow("A 0B") << QByteArray("A 0B") << QByteArray("A ESB");
    QTest::newRow("retail model suffix 0")
        << QByteArray("Intel(R) Xeon(R) CPU E5-2670 0 @ 2.60GHz")
        << QByteArray("Intel(R) Xeon(R) CPU E5-2670 0 @ 2.60GHz");
    QTest::newRow("inner runs folded") << QByteArray("AMD   Athlon(tm)    64")
                                       << QByteArray("AMD Athlon(tm) 64");
    QTest::newRow("only spaces") << QByteArray(47, ' ') << QByteArray();
    QTest::newRow("48 characters without terminator")
        << QByteArray(48, 'x') << QByteArray(47, 'x');
    QTest::newRow("byte 47 is never read")
        << QByteArray(46, 'y') + " z" << QByteArray(46, 'y');
  }
  void brandString() {
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, normalised);
    char name[48];
    std::memset(name, 0x55, sizeof name);
    std::memcpy(name, raw.constData(), std::min<size_t>(raw.size(), 48));
    if (raw.size() < 48)
      name[raw.size()] = 0;
    sysinfo::SetCorrectBrandString(name);
    QCOMPARE(QByteArray(name), normalised);
    for (int i = normalised.size(); i < 48; ++i)
      QCOMPARE(name[i], '\0');
  }

  void instructions_data() {
    QTest::addColumn<QByteArray>("vendor");
    QTest::addColumn<uint>("ecx1");
    QTest::addColumn<uint>("ebx7");
    QTest::addColumn<quint64>("xcr0");
    QTest::addColumn<uint>("highestExtended");
    QTest::addColumn<uint>("ecxExt");
    QTest::addColumn<uint>("edxExt");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("expected");

    const uint ecxAll = 1u | 1u << 9 | 1u << 19 | 1u << 20;
    const uint avxAll = ecxAll | 1u << 12 | 1u << 27 | 1u << 28;
    const uint ebx7All = 1u << 5 | 1u << 16;
    const uint extEdx = 1u << 29 | 1u << 31;
    const int sse = INS_FPU | INS_MMX | INS_SSE | INS_SSE2 | INS_SSE3 |
                    INS_SSSE3 | INS_SSE41 | INS_SSE42;
    const int avx = INS_AVX | INS_AVX2 | INS_FMA3;
    QTest::newRow("Intel with everything")
        << QByteArray("GenuineIntel") << avxAll << ebx7All << quint64(0xE7)
        << 0x80000008u << (1u << 6) << extEdx << 1
        << int(sse | avx | INS_AVX512F | INS_X86_64);
    QTest::newRow("AMD: SSSE3 and SSE4.x as on Intel, 3DNow! and SSE4a its own")
        << QByteArray("AuthenticAMD") << ecxAll << 0u << quint64(7)
        << 0x80000008u << (1u << 6) << extEdx << 1
        << int(sse | INS_3DNOW | INS_SSE4A | INS_X86_64);
    QTest::newRow("AVX-512 states not enabled by the OS")
        << QByteArray("AuthenticAMD") << avxAll << ebx7All << quint64(7)
        << 0x80000008u << 0u << 0u << 1 << int(sse | avx);
    QTest::newRow("AVX states not enabled by the OS")
        << QByteArray("GenuineIntel") << avxAll << ebx7All << quint64(3)
        << 0x80000008u << 0u << 0u << 1 << sse;
    QTest::newRow("no XGETBV without OSXSAVE")
        << QByteArray("GenuineIntel") << (avxAll & ~(1u << 27)) << ebx7All
        << quint64(0xE7) << 0x80000008u << 0u << 0u << 1 << sse;
    QTest::newRow("no extended leaves")
        << QByteArray("AuthenticAMD") << 0u << 0u << quint64(7) << 0x80000000u
        << 0u << extEdx << 0 << int(INS_FPU | INS_MMX | INS_SSE | INS_SSE2);
  }
  void instructions() {
    QFETCH(QByteArray, vendor);
    QFETCH(uint, ecx1);
    QFETCH(uint, ebx7);
    QFETCH(quint64, xcr0);
    QFETCH(uint, highestExtended);
    QFETCH(uint, ecxExt);
    QFETCH(uint, edxExt);
    RecordedMachine m;
    m.cpu.setVendor(vendor.toStdString(), 7);
    // FPU, MMX, SSE and SSE2 in every row.
    setLeaf1(m.cpu, 0, 0, ecx1, 1u | 1u << 23 | 1u << 25 | 1u << 26);
    m.cpu.setLeaf(7, 0, {0, ebx7, 0, 0});
    m.cpu.xcr0 = xcr0;
    m.cpu.setLeaf(0x80000000, 0, {highestExtended, 0, 0, 0});
    m.cpu.setLeaf(0x80000001, 0, {0, 0, ecxExt, edxExt});
    sysinfo::CheckCpuType();

    QTEST(sysinfo::CheckInstructions(), "result");
    QTEST(int(m_SystemInfo.Instructions), "expected");
  }

  void cpuCount_data() {
    QTest::addColumn<Recording>("record");
    QTest::addColumn<int>("hyperThreading");
    QTest::addColumn<int>("logicalPerPackage");
    QTest::addColumn<int>("coresPerPackage");
    QTest::addColumn<int>("l2PerPackage");
    QTest::newRow("AMD dual core")
        << cpu("AuthenticAMD", 1, {0, 2u << 16, 0, HTT}) << 1 << 2 << 2 << 2;
    QTest::newRow("Intel, two logical per package, highest leaf 2")
        << intel(2, {0, 2u << 16, 0, HTT}) << 1 << 2 << 1 << 1;
    QTest::newRow("Intel dual core with a shared L2")
        << intel(10, {0, 2u << 16, 0, HTT},
                 subLeaves(4, {cacheLeaf(1, 1, 1, 2), cacheLeaf(2, 1, 1, 2),
                               cacheLeaf(3, 2, 2, 2)}))
        << 1 << 2 << 2 << 1;
    QTest::newRow("Intel quad core with two L2, the last L2 sub-leaf wins")
        << intel(10, {0, 4u << 16, 0, HTT},
                 subLeaves(4, {cacheLeaf(3, 2, 4, 1), cacheLeaf(3, 2, 2, 4),
                               cacheLeaf(3, 3, 4, 4)}))
        << 1 << 4 << 4 << 2;
    QTest::newRow("Intel L2 shared by more than the package counts")
        << intel(11, {0, 2u << 16, 0, HTT},
                 subLeaves(4, {cacheLeaf(3, 2, 4, 2)}))
        << 1 << 2 << 2 << 1;
    QTest::newRow("endless cache sub-leaves")
        << intel(11, {0, 2u << 16, 0, 0},
                 subLeaves(
                     4, std::vector<CpuidResult>(200, cacheLeaf(3, 2, 1, 2))))
        << 0 << 2 << 2 << 2;
  }
  void cpuCount() {
    QFETCH(Recording, record);
    RecordedMachine m;
    record(m.cpu);
    sysinfo::CheckCpuType();

    QCOMPARE(sysinfo::CpuCount(), 1);
    QTEST(int(m_SystemInfo.HyperThreading), "hyperThreading");
    QTEST(int(m_SystemInfo.LogicalPerPackage), "logicalPerPackage");
    QTEST(int(m_SystemInfo.CoresPerPackage), "coresPerPackage");
    QTEST(int(m_SystemInfo.L2PerPackage), "l2PerPackage");
  }

  void brandIndexTable_data() {
    QTest::addColumn<QVector<int>>("indexes");
    QTest::addColumn<QByteArray>("name");
    const auto row = [](const char *tag, QVector<int> indexes,
                        const char *name) {
      QTest::newRow(tag) << indexes << QByteArray(name);
    };
    row("Celeron", {1, 10, 20}, "Intel(R) Celeron(R) processor");
    row("Pentium III", {2, 4}, "Intel(R) Pentium(R) III processor");
    row("Pentium III Xeon", {3}, "Intel(R) Pentium(R) III Xeon(TM) processor");
    row("mobile Pentium III", {6}, "Mobile Intel(R) Pentium(R) III Processor");
    row("mobile Celeron", {7, 15, 19, 23},
        "Mobile Intel(R) Celeron(R) processor");
    row("Pentium 4", {8, 9}, "Intel(R) Pentium(R) 4 processor");
    row("Xeon", {11}, "Intel(R) Xeon(TM) processor");
    row("Xeon MP", {12}, "Intel(R) Xeon(TM) Processor MP");
    row("mobile Pentium 4", {14}, "Mobile Intel(R) Pentium(R) 4 Processor");
    row("mobile", {17, 21}, "Mobile Intel(R) processor");
    row("mobile Celeron M", {18}, "Mobile Intel(R) Celeron(R) M processor");
    row("Pentium M", {22}, "Intel(R) Pentium(R) M processor");
    row("named by family, model and stepping", {0, 5, 13, 16, 24, 25, 255},
        nullptr);
  }
  void brandIndexTable() {
    QFETCH(QVector<int>, indexes);
    for (int index : indexes) {
      const char *found = sysinfo::brandIndexName(uint8_t(index));
      QTEST(found ? QByteArray(found) : QByteArray(), "name");
    }
  }

  void leaf2Descriptors_data() {
    QTest::addColumn<QVector<int>>("descriptors");
    QTest::addColumn<int>("size");
    QTest::newRow("128 KB") << QVector<int>{0x39, 0x3B, 0x41, 0x79} << 128;
    QTest::newRow("256 KB") << QVector<int>{0x3C, 0x42, 0x7A, 0x82} << 256;
    QTest::newRow("512 KB")
        << QVector<int>{0x3E, 0x43, 0x7B, 0x7F, 0x83, 0x86} << 512;
    QTest::newRow("1024 KB")
        << QVector<int>{0x44, 0x78, 0x7C, 0x84, 0x87} << 1024;
    QTest::newRow("2048 KB") << QVector<int>{0x45, 0x7D, 0x85} << 2048;
    QTest::newRow("descriptors the table does not list")
        << QVector<int>{0x00, 0x01, 0x2C, 0x3A, 0x3D,
                        0x46, 0x7E, 0x80, 0x88, 0xFF}
        << 0;
  }
  void leaf2Descriptors() {
    QFETCH(QVector<int>, descriptors);
    for (int descriptor : descriptors)
      QTEST(int(sysinfo::l2DescriptorSize(uint8_t(descriptor))), "size");
  }
};

QTEST_GUILESS_MAIN(TestIdentification)
#include "tst_identification.moc"

#include "RecordedMachine.h"

#include "app/SystemLabels.h"
#include "app/Vorsk.h"
#include "sysinfo/SystemSummary.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSysInfo>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

using Op = FakePlatform::Op;

namespace {

// The APIC ids, when given, of processors 0, 1 and on.
Recording pentium4(uint32_t highestLeaf, unsigned logicalPerPackage,
                   std::vector<uint8_t> apicIds = {}) {
  return [=](RecordedProcessor &c) {
    c.setVendor("GenuineIntel", highestLeaf);
    setLeaf1(c, Sig::signature(15, 4, 1), logicalPerPackage << 16, 0, 1u << 28);
    c.setBrandString("Intel(R) Pentium(R) 4 CPU 3.00GHz");
    for (size_t i = 0; i < apicIds.size(); ++i)
      c.setApicId(int(i), apicIds[i]);
  };
}

Recording amd(unsigned cores) {
  return [=](RecordedProcessor &c) {
    c.setVendor("AuthenticAMD", 1);
    setLeaf1(c, Sig::signature(15, 11, 1), cores << 16, 0, 1u << 28);
    c.setBrandString("AMD Athlon(tm) 64 X2 Dual Core Processor 4200+");
  };
}

} // namespace

class TestSystemSummary : public QObject {
  Q_OBJECT

  static QString label(Vorsk &w, const char *name) {
    return w.findChild<QLabel *>(name)->text();
  }

private slots:
  void configuration_data() {
    QTest::addColumn<Recording>("record");
    QTest::addColumn<quint64>("processMask");
    QTest::addColumn<quint64>("systemMask");
    QTest::addColumn<int>("failingOp");
    QTest::addColumn<int>("failingCall");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("logical");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("warnings");
    const auto row =
        [](const char *tag, Recording record, quint64 process, quint64 system,
           int result, int logical, const char *text, QStringList log = {},
           QStringList warnings = {}, int failingOp = -1, int failingCall = 0) {
          QTest::newRow(tag)
              << record << process << system << failingOp << failingCall
              << result << logical << QString(text) << log << warnings;
        };
    row("dual-core AMD", amd(2), 0x3, 0x3, 1, 2, "1 Processeur Dualcore");
    row("Hyper-Threading on, one core", pentium4(2, 2, {0, 1}), 0x3, 0x3, 1, 2,
        "1 Processeur Monocore HT On");
    row("Hyper-Threading off in the firmware", pentium4(2, 2), 0x1, 0x1, 1, 1,
        "1 Processeur Monocore HT Off");
    row(
        "two packages of two cores with Hyper-Threading",
        [](RecordedProcessor &c) {
          pentium4(4, 4, {0, 1, 2, 3, 4, 5, 6, 7})(c);
          c.setLeaf(4, 0, cacheLeaf(3, 2, 2, 2));
        },
        0xFF, 0xFF, 1, 8, "2 Processeurs Dualcore HT On");
    row("three of four cores visible", amd(4), 0x7, 0x7, 1, 3,
        "1 Processeur Quadcore (1 core inactif)");
    row("two of four cores visible", amd(4), 0x3, 0x3, 1, 2,
        "1 Processeur Quadcore (2 cores inactifs)");
    row("restricted to processors 1 and 3 of four", amd(4), 0xA, 0xF, 1, 2,
        "1 Processeur Quadcore");
    row("empty process set", amd(2), 0, 0x3, 0, 0, "0 Processeurs Multicore",
        {}, {"Vorsk ne peut accéder à tous les processeurs logiques !"});
    row("affinity masks unreadable", amd(2), 0x3, 0x3, 0, 0,
        "0 Processeurs Multicore", {"Get Affinity Mask Error."}, {},
        int(Op::GetProcessAffinityMask));
    row("first processor cannot be pinned", amd(2), 0x3, 0x3, 1, 2,
        "2 Processeurs Multicore", {"SetProcessAffinityMask Error."}, {},
        int(Op::SetProcessAffinityMask));
    row("full mask cannot be restored", amd(2), 0x3, 0x3, 1, 2,
        "1 Processeur Dualcore", {"SetProcessAffinityMask Error."}, {},
        int(Op::SetProcessAffinityMask), 2);
  }
  void configuration() {
    QFETCH(Recording, record);
    QFETCH(quint64, processMask);
    QFETCH(quint64, systemMask);
    QFETCH(int, failingOp);
    QFETCH(int, failingCall);
    RecordedMachine m;
    record(m.cpu);
    m.fake.processMask = processMask;
    m.fake.systemMask = systemMask;
    if (failingOp >= 0)
      m.fake.failCall(Op(failingOp), failingCall);
    m_SystemInfo.Frequency = 99; // cleared by the identification

    Identified out;
    QTEST(out.result, "result");
    QTEST(int(m_SystemInfo.LogicalCount), "logical");
    QTEST(sysinfo::configurationText(m_SystemInfo), "text");
    QTEST(out.log, "log");
    QTEST(out.warnings, "warnings");
    if (out.warnings.isEmpty() && out.log.isEmpty()) {
      QCOMPARE(out.mask, CpuSet(processMask));
      std::vector<CpuSet> visits;
      for (int cpu : out.mask.members())
        visits.push_back(CpuSet::single(cpu));
      visits.push_back(out.mask);
      QCOMPARE(m.fake.affinityHistory, visits);
      QVERIFY(m_SystemInfo.Frequency > 0);
    }
    if (!out.warnings.isEmpty())
      QCOMPARE(m_SystemInfo.Frequency, 0.0);
  }

  void apicTable() {
    RecordedMachine m;
    pentium4(4, 4, {7, 6, 5, 4, 3, 2, 1, 0})(m.cpu);
    m.cpu.setLeaf(4, 0, cacheLeaf(3, 2, 2, 2));
    m.fake.processMask = m.fake.systemMask = 0xFF;
    QCOMPARE(Identified().result, 1);

    // Four logical processors per package: two bits of the APIC id.
    const ApicInfo &first = m_SystemInfo.Apic[0];
    QCOMPARE(int(first.ApicId), 7);
    QCOMPARE(int(first.PackageId), 1);
    QCOMPARE(int(first.CoreId), 3);
    QCOMPARE(int(first.LogicalId), 3);
    const ApicInfo &last = m_SystemInfo.Apic[7];
    QCOMPARE(int(last.ApicId), 0);
    QCOMPARE(int(last.PackageId), 0);
    QCOMPARE(int(m_SystemInfo.PackageCount), 2);
    QCOMPARE(int(m_SystemInfo.HyperThreading), 2);
  }

  // Processors without topology leaves: the text, the L2 over the distinct
  // caches and the engine's argument, the L2 over the processors sharing it.
  void legacyPath_data() {
    QTest::addColumn<Recording>("record");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("l2");
    QTest::addColumn<unsigned>("l2TotalKb");
    QTest::addColumn<int>("argument");
    // Both threads of a core share its L2.
    QTest::newRow("Pentium 4 with Hyper-Threading")
        << Recording([](RecordedProcessor &c) {
             pentium4(2, 2)(c);
             c.setBrandString("Intel(R) Pentium(R) 4 CPU 3.00GHz", 0x80000008);
             c.setLeaf(0x80000006, 0, {0, 0, 1024u << 16, 0});
             c.setApicId(1, 1);
           })
        << "1 Processeur Monocore HT On"
        << "1024Ko" << 1024u << 512;
    // Recorded on a two-processor guest of a family 1Ah host: leaf 1 sets 254
    // identifiers aside per package while 0x80000008 counts one core. Two
    // single-core packages, not one of 254 cores with 252 inactive.
    QTest::newRow("guest setting identifiers aside")
        << Recording([](RecordedProcessor &c) {
             c.setVendor("AuthenticAMD", 0xD);
             setLeaf1(c, Sig::signature(15, 2, 1, 0xB), 254u << 16, 0,
                      1u << 28);
             c.setBrandString("AMD EPYC", 0x80000021);
             c.setLeaf(0x80000006, 0, {0, 0, 1024u << 16, 0});
             c.setApicId(0, 0x11);
             c.setApicId(1, 0x8B);
           })
        << "2 Processeurs Monocore"
        << "1024Ko" << 2048u << 1024;
  }
  void legacyPath() {
    QFETCH(Recording, record);
    RecordedMachine m;
    record(m.cpu);
    m.fake.processMask = m.fake.systemMask = 0x3;
    QCOMPARE(Identified().result, 1);
    QTEST(sysinfo::configurationText(m_SystemInfo), "text");
    QTEST(sysinfo::cacheL2Text(m_SystemInfo), "l2");
    QTEST(unsigned(m_SystemInfo.L2TotalKb), "l2TotalKb");
    QTEST(l2KbPerLogical(), "argument");
  }

  void tjMax_data() {
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("model"); // with the extended model
    QTest::addColumn<int>("stepping");
    QTest::addColumn<bool>("sensor");
    QTest::addColumn<qint64>("msr17");  // -1: unreadable
    QTest::addColumn<qint64>("target"); // MSR 0x1A2, -1: unreadable
    QTest::addColumn<int>("tjMax");
    const auto row = [](const char *tag, int vendor, int model, int stepping,
                        bool sensor, qint64 msr17, qint64 target, int tjMax) {
      QTest::newRow(tag) << vendor << model << stepping << sensor << msr17
                         << target << tjMax;
    };
    row("model 15 stepping 11, MSR high half 0", 1, 15, 11, true, 0, -1, 100);
    row("model 15 stepping 6, MSR high half 0", 1, 15, 6, true, 0, -1, 85);
    row("model 15 stepping 2", 1, 15, 2, true, 0, -1, 100);
    row("model 15 stepping 6, MSR high half 0x40000", 1, 15, 6, true,
        0x4000000000000, -1, 100);
    row("model 15 stepping 6, MSR unreadable", 1, 15, 6, true, -1, -1, 85);
    row("model 14", 1, 14, 8, true, 0, -1, 100);
    row("model 0x17 (base model 7)", 1, 0x17, 6, true, -1, -1, 85);
    row("no thermal sensor", 1, 15, 11, false, 0, -1, 0);
    row("AMD", 2, 15, 11, true, 0, -1, 0);
    row("temperature target readable", 1, 0x9E, 10, true, -1, 0x5F0000, 95);
    row("temperature target before the documented rule", 1, 15, 6, true, 0,
        0x640000, 100);
    row("Nehalem and later without the target", 1, 0x1A, 5, true, -1, -1, 100);
    row("Atom without the target", 1, 0x1C, 2, true, -1, -1, 90);
  }
  void tjMax() {
    QFETCH(int, vendor);
    QFETCH(int, model);
    QFETCH(int, stepping);
    QFETCH(bool, sensor);
    QFETCH(qint64, msr17);
    QFETCH(qint64, target);
    RecordedMachine m;
    m.cpu.setVendor(vendor == 1 ? "GenuineIntel" : "AuthenticAMD", 10);
    setLeaf1(m.cpu,
             Sig::signature(6, unsigned(model & 0xF), unsigned(stepping), 0,
                            unsigned(model >> 4)),
             2u << 16, 0, 0);
    m.cpu.setLeaf(6, 0, {sensor ? 1u : 0u, 0, 0, 0});
    if (msr17 >= 0)
      m.cpu.setMsr(0x17, uint64_t(msr17));
    if (target >= 0)
      m.cpu.setMsr(0x1A2, uint64_t(target));
    QCOMPARE(Identified().result, 1);
    QTEST(int(m_SystemInfo.TjMax), "tjMax");
    QCOMPARE(m.cpu.privilegeHeld, 0);
  }

  void instructionsText_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortText");
    QTest::newRow("none") << 0 << QString() << QString();
    QTest::newRow("x87 alone") << int(INS_FPU) << "FPU x87" << QString();
    QTest::newRow("typical 64-bit processor")
        << int(INS_FPU | INS_MMX | INS_SSE | INS_SSE2 | INS_SSE3 | INS_X86_64)
        << "MMX, SSE, SSE2, SSE3, x86-64"
        << QString::fromUtf8("SSE → SSE3, x86-64");
    QTest::newRow("every extension before AVX")
        << 0x7FF
        << "MMX, 3DNow!, SSE, SSE2, SSE3, SSSE3, SSE4a, SSE4.1, SSE4.2, x86-64"
        << QString::fromUtf8("SSE → SSE4.2, SSE4a, x86-64");
    QTest::newRow("Intel with AVX-512")
        << int(INS_FPU | INS_MMX | INS_SSE | INS_SSE2 | INS_SSE3 | INS_SSSE3 |
               INS_SSE41 | INS_SSE42 | INS_AVX | INS_AVX2 | INS_FMA3 |
               INS_AVX512F | INS_X86_64)
        << "MMX, SSE, SSE2, SSE3, SSSE3, SSE4.1, SSE4.2, AVX, AVX2, FMA3, "
           "AVX-512F, x86-64"
        << QString::fromUtf8("SSE → SSE4.2, AVX2, FMA3, AVX-512, x86-64");
    QTest::newRow("AVX without AVX2")
        << int(INS_MMX | INS_SSE | INS_SSE2 | INS_AVX) << "MMX, SSE, SSE2, AVX"
        << QString::fromUtf8("SSE → SSE2, AVX");
  }
  void instructionsText() {
    QFETCH(int, bits);
    QTEST(sysinfo::instructionsText(uint32_t(bits)), "text");
    QTEST(sysinfo::shortInstructionsText(uint32_t(bits)), "shortText");
  }

  void labels() {
    QLabel name, instructions, frequency, cache("form text"), configuration;
    m_SystemInfo = SystemInfo{};
    sysinfo::fillSystemLabels(&name, &instructions, &frequency, &cache,
                              &configuration);
    QCOMPARE(name.text(), QString());
    QCOMPARE(instructions.text(), QString());
    QCOMPARE(frequency.text(), QString("0.0 MHz"));
    QCOMPARE(cache.text(), QString("form text"));
    QCOMPARE(configuration.text(), QString("0 Processeurs Multicore"));

    m_SystemInfo.L2Size = 512;
    m_SystemInfo.CoresPerPackage = 1;
    QCOMPARE(sysinfo::cacheL2Text(m_SystemInfo), QString("512Ko"));

    // The list in short when the label is too narrow, whole in its tool tip.
    m_SystemInfo.Instructions = INS_MMX | INS_SSE | INS_SSE2 | INS_SSE3 |
                                INS_SSSE3 | INS_SSE41 | INS_SSE42 | INS_AVX |
                                INS_AVX2 | INS_FMA3 | INS_X86_64;
    const QString whole = sysinfo::instructionsText(m_SystemInfo.Instructions);
    const QString brief = QString::fromUtf8("SSE → SSE4.2, AVX2, FMA3, x86-64");
    for (const QString &shown : {whole, brief}) {
      instructions.setGeometry(
          0, 0, instructions.fontMetrics().horizontalAdvance(shown), 20);
      sysinfo::fillSystemLabels(&name, &instructions, &frequency, &cache,
                                &configuration);
      QCOMPARE(instructions.text(), shown);
      QCOMPARE(instructions.toolTip(), shown == whole ? QString() : whole);
    }

    // A many-core processor's caches, closed up in a narrow label, and cut
    // with the whole text in the tool tip when even that does not fit.
    m_SystemInfo.CoresPerPackage = 128;
    m_SystemInfo.L2PerPackage = 128;
    m_SystemInfo.L2Size = 1024;
    const QFontMetrics fm = cache.fontMetrics();
    const QString wholeCache("128 x 1024Ko");
    for (const QString &shown :
         {wholeCache, QString("128x1024Ko"), QString("128x1…")}) {
      cache.setGeometry(0, 0, fm.horizontalAdvance(shown), 20);
      sysinfo::fillSystemLabels(&name, &instructions, &frequency, &cache,
                                &configuration);
      if (shown.endsWith("…"))
        QVERIFY2(cache.text().endsWith("…"), qPrintable(cache.text()));
      else
        QCOMPARE(cache.text(), shown);
      QVERIFY(fm.horizontalAdvance(cache.text()) <= cache.width());
      QCOMPARE(cache.toolTip(), shown == wholeCache ? QString() : wholeCache);
    }
  }

  // The identification as the main window shows it.
  void summaryOfARecordedProcessor() {
    RecordedMachine m;
    m.cpu.setVendor("AuthenticAMD", 1);
    setLeaf1(m.cpu, Sig::signature(15, 11, 1), 2u << 16, 1,
             1u | 1u << 23 | 1u << 25 | 1u << 26 | 1u << 28);
    m.cpu.setBrandString("AMD Athlon(tm) 64 X2 Dual Core Processor 4200+",
                         0x80000008);
    m.cpu.setLeaf(0x80000001, 0, {0, 0, 0, 1u << 29 | 1u << 31});
    m.cpu.setLeaf(0x80000006, 0, {0, 0, 512u << 16, 0});
    m.cpu.setLeaf(0x80000008, 0, {0, 0, 1, 0}); // two cores
    m.cpu.setApicId(1, 1);
    m.cpu.tscMHz = 2211;

    Vorsk w;
    QCOMPARE(w.windowTitle(),
             "Vorsk 1.0.4 (" + QSysInfo::prettyProductName() + ")");
    QCOMPARE(label(w, "labelName"),
             QString("AMD Athlon(tm) 64 X2 Dual Core Processor 4200+"));
    QCOMPARE(label(w, "labelInstructions"),
             QString("MMX, 3DNow!, SSE, SSE2, SSE3, x86-64"));
    QCOMPARE(label(w, "labelFrequency"), QString("2211.0 MHz"));
    QCOMPARE(label(w, "labelCacheL2"), QString("2 x 512Ko"));
    QCOMPARE(label(w, "labelConfiguration"), QString("1 Processeur Dualcore"));
    QCOMPARE(int(m_SystemInfo.LogicalCount), 2);
    QCOMPARE(m.fake.currentAffinity, CpuSet(0x3));
  }

  void emptyProcessSetWarnsAndShowsTheClearedRecord() {
    RecordedMachine m;
    m.cpu.setVendor("AuthenticAMD", 1);
    m.fake.processMask = CpuSet();
    m.fake.systemMask = 0x3;

    QStringList boxes;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
      auto *box =
          qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box)
        return;
      boxes << box->windowTitle() + "|" + box->text();
      box->accept();
    });
    closer.start(10);

    Vorsk w;
    closer.stop();
    QCOMPARE(boxes, QStringList{"Vorsk 1.0.4|Vorsk ne peut accéder à tous les "
                                "processeurs logiques !"});
    QCOMPARE(label(w, "labelName"), QString());
    QCOMPARE(label(w, "labelFrequency"), QString("0.0 MHz"));
    QCOMPARE(label(w, "labelConfiguration"),
             QString("0 Processeurs Multicore"));
    QCOMPARE(w.findChild<QTextEdit *>("textLog")->toPlainText(), QString());
    QVERIFY(m.fake.affinityHistory.empty());
  }
};

QTEST_MAIN(TestSystemSummary)
#include "tst_systemsummary.moc"

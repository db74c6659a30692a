#include "RecordedMachine.h"

#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QtTest>

using Op = FakePlatform::Op;

namespace {
void identify(uint8_t vendor, uint8_t family, uint8_t model) {
  m_SystemInfo = SystemInfo{};
  m_SystemInfo.Vendor = vendor;
  m_SystemInfo.Family = family;
  m_SystemInfo.Model = model;
}
} // namespace

class TestFrequency : public QObject {
  Q_OBJECT
private slots:
  // Whether the time-stamp counter runs at a constant rate, then for one
  // that does the second measurement, through APERF when leaf 6 offers it.
  void measurement_data() {
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("invariantBit"); // leaf 0x80000007 EDX bit 8
    QTest::addColumn<bool>("sensorBit");    // leaf 6 ECX bit 0
    QTest::addColumn<quint64>("aperfMHz");
    QTest::addColumn<bool>("aperfFails");
    QTest::addColumn<int>("constant");
    QTest::addColumn<int>("aperf");
    QTest::addColumn<double>("frequency");
    const auto row = [](const char *tag, int vendor, int family, int model,
                        bool invariantBit, int constant, bool sensorBit = false,
                        quint64 aperfMHz = 0, bool aperfFails = false,
                        int aperf = 0, double frequency = 2400) {
      QTest::newRow(tag) << vendor << family << model << invariantBit
                         << sensorBit << aperfMHz << aperfFails << constant
                         << aperf << frequency;
    };
    row("Intel family 6 model 13", 1, 6, 13, false, 0);
    row("Intel family 6 model 14", 1, 6, 14, false, 1);
    row("Intel family 6 model 15", 1, 6, 15, false, 1);
    row("Intel family 15 model 2", 1, 15, 2, false, 0);
    row("Intel family 15 model 3", 1, 15, 3, false, 1);
    row("AMD family 15 model 15", 2, 15, 15, false, 0);
    row("AMD family 6 model 15", 2, 6, 15, false, 0);
    row("Intel base model 10 with the invariant bit", 1, 6, 10, true, 1);
    row("AMD with the invariant bit", 2, 15, 1, true, 1);
    row("within 1 %: the first stays", 1, 6, 15, false, 1, true, 2394, false, 1,
        2400);
    row("beyond 1 %: the second wins", 1, 6, 15, false, 1, true, 2000, false, 1,
        2000);
    row("no counter bit in leaf 6", 1, 6, 15, false, 1, false, 2000);
    row("counter unreadable", 1, 6, 15, false, 1, true, 2000, true);
  }
  void measurement() {
    QFETCH(int, vendor);
    QFETCH(int, family);
    QFETCH(int, model);
    QFETCH(bool, invariantBit);
    QFETCH(bool, sensorBit);
    QFETCH(quint64, aperfMHz);
    QFETCH(bool, aperfFails);
    RecordedMachine m;
    m.cpu.tscMHz = 2400;
    m.cpu.aperfMHz = aperfMHz;
    if (aperfFails)
      m.cpu.failingMsrs.insert(0xE8);
    m.cpu.setLeaf(6, 0, {1, 0, sensorBit ? 1u : 0u, 0});
    m.cpu.setLeaf(0x80000000, 0, {0x80000008, 0, 0, 0});
    m.cpu.setLeaf(0x80000007, 0, {0, 0, 0, invariantBit ? 1u << 8 : 0});
    identify(uint8_t(vendor), uint8_t(family), uint8_t(model));
    uint32_t start = m.fake.timeGetTime();

    QCOMPARE(sysinfo::MeasureFrequency(), 1);
    QTEST(int(m_SystemInfo.bConstantTsc), "constant");
    QTEST(int(m_SystemInfo.bAperf), "aperf");
    QTEST(m_SystemInfo.Frequency, "frequency");
    // 300 ms rest and 100 ms of counting, then 200 + 400 ms for the second
    // measurement of a constant-rate counter.
    QCOMPARE(m.fake.timeGetTime() - start,
             m_SystemInfo.bConstantTsc ? 1000u : 400u);
  }

  void signBitIsACount() {
    RecordedMachine m;
    identify(VENDOR_AMD, 15, 4);
    m.cpu.tscReadings = {0x10, 0x8000000000000010};

    sysinfo::MeasureFrequency();
    QCOMPARE(int64_t(Tcpu), INT64_MIN);
    // 2^63 cycles in 100 ms.
    QCOMPARE(m_SystemInfo.Frequency, 9223372036854775808.0 / 1e8 * 1e3);
  }

  void sameInstantKeepsTheFrequency() {
    RecordedMachine m;
    for (uint8_t constant : {0, 1}) {
      m_SystemInfo = SystemInfo{};
      m_SystemInfo.bConstantTsc = constant;
      m_SystemInfo.Frequency = 1234.5;
      ThreadBeginFrequency(nullptr);
      ThreadEndFrequency(nullptr);
      QCOMPARE(int64_t(Twin), int64_t(0));
      QCOMPARE(m_SystemInfo.Frequency, 1234.5);
    }
  }

  void sampling_data() {
    QTest::addColumn<bool>("begin");
    QTest::addColumn<int>("failingOp");
    QTest::addColumn<bool>("runs");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("message");
    const int none = -1;
    QTest::newRow("begin: taken") << true << none << true << 1 << QString();
    QTest::newRow("end: taken") << false << none << true << 1 << QString();
    QTest::newRow("begin: time-out")
        << true << none << false << 0 << "BeginFrequency() : WAIT_TIMEOUT";
    QTest::newRow("end: time-out, no message")
        << false << none << false << 0 << QString();
    QTest::newRow("begin: wait fails") << true << int(Op::WaitForThread) << true
                                       << 0 << "BeginFrequency() : WAIT_FAILED";
    QTest::newRow("end: wait fails") << false << int(Op::WaitForThread) << true
                                     << 0 << "EndFrequency() : WAIT_FAILED";
    QTest::newRow("creation fails") << false << int(Op::CreateThread) << true
                                    << 0 << "CreateThread() error.";
    QTest::newRow("affinity fails")
        << true << int(Op::SetThreadAffinityMask) << true << 0
        << "SetThreadAffinityMask() error.";
    QTest::newRow("priority fails")
        << false << int(Op::SetThreadPriority) << true << 0
        << "SetThreadPriority() error.";
    QTest::newRow("resume fails") << true << int(Op::ResumeThread) << true << 0
                                  << "ResumeThread() error.";
  }
  void sampling() {
    QFETCH(bool, begin);
    QFETCH(int, failingOp);
    QFETCH(bool, runs);
    QFETCH(QString, message);
    RecordedMachine m;
    m.fake.runOnResume = runs;
    if (failingOp >= 0)
      m.fake.failAlways(Op(failingOp));
    identify(VENDOR_AMD, 15, 4);
    uint32_t start = m.fake.timeGetTime();

    QStringList log;
    auto append = [&](const QString &line) { log << line; };
    int result = begin ? sysinfo::BeginFrequency(800, append)
                       : sysinfo::EndFrequency(400, append);
    QTEST(result, "result");
    QCOMPARE(log, message.isEmpty() ? QStringList() : QStringList{message});
    for (ThreadHandle h : m.fake.handles()) {
      const FakePlatform::Thread *t = m.fake.thread(h);
      QVERIFY(t->closed);
      if (failingOp < 0) {
        QCOMPARE(t->affinity, CpuSet::single(0));
        QVERIFY(t->priority == ThreadPriority::AboveNormal);
      }
    }
    if (failingOp < 0 && !runs)
      QCOMPARE(m.fake.timeGetTime() - start, begin ? 800u : 400u);
  }

  void averageSinceTheStartSample_data() {
    QTest::addColumn<int>("constant");
    QTest::addColumn<int>("aperf");
    QTest::newRow("time-stamp counter against the performance counter")
        << 0 << 0;
    QTest::newRow("time-stamp counter against the millisecond timer") << 1 << 0;
    QTest::newRow("actual-performance counter") << 1 << 1;
  }
  void averageSinceTheStartSample() {
    QFETCH(int, constant);
    QFETCH(int, aperf);
    RecordedMachine m;
    m.fake.runOnResume = true;
    m_SystemInfo = SystemInfo{};
    m_SystemInfo.bConstantTsc = uint8_t(constant);
    m_SystemInfo.bAperf = uint8_t(aperf);
    m.cpu.tscMHz = 3000;
    m.cpu.aperfMHz = 1500;
    const double expected = aperf ? 1500.0 : 3000.0;
    auto noLog = [](const QString &line) { QFAIL(qPrintable(line)); };

    QCOMPARE(sysinfo::BeginFrequency(800, noLog), 1);
    m.fake.advance(1000);
    QCOMPARE(sysinfo::EndFrequency(400, noLog), 1);
    QCOMPARE(m_SystemInfo.Frequency, expected);
    QCOMPARE(int64_t(Twin), constant ? int64_t(1000) : int64_t(1000000000));

    // A later end sample still measures from the same start.
    m.fake.advance(2000);
    QCOMPARE(sysinfo::EndFrequency(400, noLog), 1);
    QCOMPARE(int64_t(Twin), constant ? int64_t(3000) : int64_t(3000000000));
    QCOMPARE(m_SystemInfo.Frequency, expected);
    QCOMPARE(sysinfo::frequencyText(m_SystemInfo.Frequency),
             QString::asprintf("%.1f MHz", expected));
  }

  // Three ticks of a run on processors 0 and 2 of a machine whose time-stamp
  // counter runs at 3000 MHz. Per processor: the rate APERF counts at (0: its
  // MSRs cannot be read) and the kernel's clock (0: none).
  void clockUnderLoad_data() {
    QTest::addColumn<QList<int>>("aperfMHz");
    QTest::addColumn<QList<int>>("cpufreqMHz");
    QTest::addColumn<int>("constant");
    QTest::addColumn<int>("mperfMHz");
    QTest::addColumn<quint64>("counterStart");
    QTest::addColumn<QString>("line");
    const auto row = [](const char *tag, QList<int> aperfMHz,
                        QList<int> cpufreqMHz, int constant, int mperfMHz,
                        quint64 counterStart, const char *line) {
      QTest::newRow(tag) << aperfMHz << cpufreqMHz << constant << mperfMHz
                         << counterStart << QString(line);
    };
    const char *both = "Fréquence : 4415.0 MHz (4380.0 à 4450.0)";
    row("APERF/MPERF before the kernel's clock", {4380, 4450}, {2000, 2000}, 1,
        3000, 0, both);
    row("counters that wrap between ticks", {4380, 4450}, {0, 0}, 1, 3000,
        quint64(-5000000000LL), both);
    row("MSRs unreadable: the kernel's clock", {0, 0}, {4380, 4450}, 1, 3000, 0,
        both);
    row("one processor of each", {4380, 0}, {2000, 4450}, 1, 3000, 0, both);
    row("MPERF standing still: the kernel's clock", {4380, 4450}, {4380, 4450},
        1, 0, 0, both);
    row("time-stamp counter of varying rate: no scale for the counters",
        {4380, 4450}, {0, 0}, 0, 3000, 0, "");
    row("neither: no line", {0, 0}, {0, 0}, 1, 3000, 0, "");
  }
  void clockUnderLoad() {
    QFETCH(QList<int>, aperfMHz);
    QFETCH(QList<int>, cpufreqMHz);
    QFETCH(int, constant);
    QFETCH(int, mperfMHz);
    QFETCH(quint64, counterStart);
    RecordedMachine m;
    m_SystemInfo = SystemInfo{};
    m_SystemInfo.bConstantTsc = uint8_t(constant);
    m_SystemInfo.TscFrequency = 3000;
    m_SystemInfo.Processor = {0, 2};
    for (int i = 0; i < 2; ++i)
      if (cpufreqMHz[i])
        m.fake.processorClocksKHz[m_SystemInfo.Processor[i]] =
            uint64_t(cpufreqMHz[i]) * 1000;
    std::vector<LoadClock> clocks;
    for (uint64_t second = 0; second < 3; ++second) {
      for (int i = 0; i < 2; ++i) {
        if (!aperfMHz[i])
          continue;
        const int processor = m_SystemInfo.Processor[i];
        m.cpu.setMsr(0xE8, counterStart + second * aperfMHz[i] * 1000000,
                     processor);
        m.cpu.setMsr(0xE7, counterStart + second * mperfMHz * 1000000,
                     processor);
      }
      sysinfo::SampleProcessorClocks(clocks, {0, 1});
    }
    double mhz = 0;
    QTEST(sysinfo::processorClocksLine(clocks, &mhz), "line");
  }
};

QTEST_GUILESS_MAIN(TestFrequency)
#include "tst_frequency.moc"

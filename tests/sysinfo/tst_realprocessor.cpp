#include "platform/Platform.h"
#include "sysinfo/CpuPrimitives.h"
#include "sysinfo/MachineFacts.h"
#include "sysinfo/SystemSummary.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QSysInfo>
#include <QtTest>

// The real processor of this machine against what the kernel reports.
// Nothing here writes a register or a port.
class TestRealProcessor : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    QFile file("/proc/cpuinfo");
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    for (const QString &line : QString::fromUtf8(file.readAll()).split('\n')) {
      int colon = line.indexOf(':');
      if (colon < 0)
        continue;
      QString key = line.left(colon).trimmed();
      if (key == "processor")
        ++processors_;
      if (processors_ == 1 && !first_.contains(key))
        first_[key] = line.mid(colon + 1).trimmed();
    }
    QVERIFY(processors_ > 0);
  }

  void identificationMatchesTheKernel() {
    QStringList problems;
    sysinfo::SystemReport report{[&](const QString &l) { problems << l; },
                                 [&](const QString &w) { problems << w; }};
    CpuSet mask;
    int result = sysinfo::InitialiseSystem(&mask, report);
    QCOMPARE(problems, QStringList());
    QCOMPARE(result, 1);

    QCOMPARE(int(m_SystemInfo.LogicalCount), mask.count());
    QCOMPARE(int(m_SystemInfo.OnlineCount), processors_);
    // The kernel reads CPUID once, at boot; a guest moved since then to a
    // newer host answers with that host's name and extensions.
    const QStringList flags = first_["flags"].split(' ');
    const bool guest = flags.contains("hypervisor");
    const QString name = sysinfo::processorNameText(m_SystemInfo).simplified();
    if (guest)
      QVERIFY(!name.isEmpty());
    else
      QCOMPARE(name, first_["model name"].simplified());

    std::vector<std::pair<const char *, uint32_t>> table = {
        {"fpu", INS_FPU},        {"mmx", INS_MMX},      {"sse", INS_SSE},
        {"sse2", INS_SSE2},      {"pni", INS_SSE3},     {"lm", INS_X86_64},
        {"ssse3", INS_SSSE3},    {"sse4_1", INS_SSE41}, {"sse4_2", INS_SSE42},
        {"avx", INS_AVX},        {"avx2", INS_AVX2},    {"fma", INS_FMA3},
        {"avx512f", INS_AVX512F}};
    if (first_["vendor_id"] == "AuthenticAMD") // their own extensions
      table.insert(table.end(), {{"3dnow", INS_3DNOW}, {"sse4a", INS_SSE4A}});
    uint32_t expected = 0;
    for (const auto &row : table)
      if (flags.contains(row.first))
        expected |= row.second;
    if (guest)
      QCOMPARE(int(m_SystemInfo.Instructions & expected), int(expected));
    else
      QCOMPARE(int(m_SystemInfo.Instructions), int(expected));

    // The clock is measured, not read: it only has to be of the right order.
    double kernelMHz = first_["cpu MHz"].toDouble();
    QVERIFY(m_SystemInfo.Frequency > 0);
    if (kernelMHz > 0)
      QVERIFY2(qAbs(m_SystemInfo.Frequency - kernelMHz) < 0.25 * kernelMHz,
               qPrintable(QString::number(m_SystemInfo.Frequency)));
  }

  void waitSpinsForTheWholeInterval() {
    QElapsedTimer timer;
    timer.start();
    Wait(0);
    QVERIFY(timer.elapsed() < 20);
    timer.restart();
    Wait(30);
    QVERIFY(timer.elapsed() >= 30);
  }

  // The Linux layer reads /proc, whose files say they are empty, whole; and
  // the hypervisor bit is the one the kernel saw.
  void fleetRecordMatchesTheKernel() {
    QCOMPARE(QString::fromStdString(platform().kernelRelease()),
             QSysInfo::kernelVersion());
    std::string text;
    QVERIFY(platform().readKernelText("/proc/cpuinfo", &text));
    QFile cpuinfo("/proc/cpuinfo");
    QVERIFY(cpuinfo.open(QIODevice::ReadOnly));
    QCOMPARE(QByteArray::fromStdString(text), cpuinfo.readAll());
    QVERIFY(!platform().readKernelText("/proc/no-such-file", &text));

    QCOMPARE(sysinfo::hypervisorPresent(),
             first_["flags"].split(' ').contains("hypervisor"));
    CpuSet processMask, online;
    QVERIFY(platform().getProcessAffinityMask(&processMask, &online));
    const auto revisions = sysinfo::microcodeRevisions(online);
    QCOMPARE(int(revisions.size()), processors_);
    QCOMPARE(revisions.front().revision, first_["microcode"]);
  }

private:
  QMap<QString, QString> first_; // fields of the first processor
  int processors_ = 0;
};

QTEST_GUILESS_MAIN(TestRealProcessor)
#include "tst_realprocessor.moc"

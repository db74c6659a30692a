#include "RecordedMachine.h"

#include "sysinfo/CpuPrimitives.h"
#include "sysinfo/SystemInfo.h"

#include <QtTest>

class TestCpuPrimitives : public QObject {
  Q_OBJECT
private slots:
  void msrReads_data() {
    QTest::addColumn<quint64>("value");
    QTest::addColumn<bool>("privilege");
    QTest::newRow("high half 1, low half 0") << quint64(0x100000000) << true;
    QTest::newRow("both halves") << quint64(0x1234567889ABCDEF) << true;
    QTest::newRow("without the right") << quint64(7) << false;
  }
  void msrReads() {
    QFETCH(quint64, value);
    QFETCH(bool, privilege);
    RecordedMachine m;
    m.cpu.setMsr(0x19C, value);
    m.cpu.privilegeAvailable = privilege;
    QCOMPARE(quint64(Rdmsr(0x19C)), privilege ? value : 0);
    QCOMPARE(m.cpu.privilegeHeld, 0);
    QCOMPARE(m.cpu.msrReads.size(), size_t(privilege ? 1 : 0));
  }

  void failedMsrReadLeavesTheSlots() {
    RecordedMachine m;
    m.cpu.setLeaf(0, 0, {11, 22, 33, 44});
    m.cpu.setMsr(0, 0x0000000500000006);
    m.cpu.failingMsrs.insert(0x17);

    Cpuid(0, 0);
    QCOMPARE(Rdmsr(0x17), uint64_t(0));
    QCOMPARE(uint32_t(i_eax), 11u);
    QCOMPARE(uint32_t(i_edx), 44u);

    uint32_t high = 99, low = 98;
    QCOMPARE(bReadMSR_Win32(0x17, &high, &low), 0);
    QCOMPARE(high, 99u);
    QCOMPARE(low, 98u);

    QCOMPARE(TestZwSystemDebugControl(), 1);
    QCOMPARE(uint32_t(i_edx), 5u);
    QCOMPARE(uint32_t(i_eax), 6u);
    QCOMPARE(uint32_t(i_ebx), 22u);
    QCOMPARE(m.cpu.privilegeHeld, 0);
  }

  // The recorded northbridge reads the core its select byte chose.
  void k8RegisterThroughTheKernel_data() {
    QTest::addColumn<uint32_t>("address");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<uint32_t>("expected");
    QTest::newRow("package 0") << 0x8000C3E4u << "0000:00:18.3"
                               << "0000:00:18.3" << false << 0x00470004u;
    QTest::newRow("package 1") << 0x8000CBE4u << "0000:00:19.3"
                               << "0000:00:19.3" << false << 0x00470004u;
    QTest::newRow("every field at its widest")
        << 0x80FFFFE4u << "0000:ff:1f.7"
        << "0000:ff:1f.7" << false << 0x00470004u;
    QTest::newRow("register past 64 bytes refused")
        << 0x8000C3E4u << "0000:00:18.3"
        << "0000:00:18.3" << true << 0u;
    QTest::newRow("no such device") << 0x8000D3E4u << "0000:00:1a.3"
                                    << "0000:00:18.3" << false << 0u;
  }
  void k8RegisterThroughTheKernel() {
    QFETCH(uint32_t, address);
    QFETCH(QString, recorded);
    QFETCH(bool, refused);
    RecordedMachine m;
    m.fake.pciRegisters[{recorded.toStdString(), 0xE4, 0}] = 0x00510000;
    m.fake.pciRegisters[{recorded.toStdString(), 0xE4, 4}] = 0x00470004;
    if (refused)
      m.fake.pciRefused.insert(recorded.toStdString());
    QTEST(QString::fromStdString(pciDeviceName(address)), "device");
    QTEST(ReadK8ThermTrip(address, 4), "expected");
  }

  void waitMovesTheProcessorsClockOnly() {
    RecordedMachine m;
    uint32_t before = m.fake.timeGetTime();
    Wait(0);
    Wait(-5);
    QCOMPARE(m.fake.timeGetTime(), before);
    Wait(400);
    QCOMPARE(m.fake.timeGetTime(), before + 400);
  }
};

QTEST_GUILESS_MAIN(TestCpuPrimitives)
#include "tst_cpuprimitives.moc"

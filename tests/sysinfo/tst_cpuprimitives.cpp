#include "RecordedMachine.h"

#include "sysinfo/CpuPrimitives.h"
#include "sysinfo/SystemInfo.h"

#include <QtTest>

class TestCpuPrimitives : public QObject {
  Q_OBJECT
private slots:
  void msrReads_data();
  void msrReads();
  void failedMsrReadLeavesTheSlots();
  void portSequence_data();
  void portSequence();
  void waitMovesTheProcessorsClockOnly();
  void engineArgument_data();
  void engineArgument();
};

void TestCpuPrimitives::msrReads_data() {
  QTest::addColumn<quint64>("value");
  QTest::addColumn<bool>("privilege");
  QTest::addColumn<quint64>("expected");
  QTest::newRow("high half 1, low half 0")
      << quint64(0x100000000) << true << quint64(0x100000000);
  QTest::newRow("both halves")
      << quint64(0x1234567889ABCDEF) << true << quint64(0x1234567889ABCDEF);
  QTest::newRow("without the right") << quint64(7) << false << quint64(0);
}

void TestCpuPrimitives::msrReads() {
  QFETCH(quint64, value);
  QFETCH(bool, privilege);
  QFETCH(quint64, expected);
  RecordedMachine m;
  m.cpu.setMsr(0x19C, value);
  m.cpu.privilegeAvailable = privilege;
  QCOMPARE(quint64(Rdmsr(0x19C)), expected);
  QCOMPARE(m.cpu.privilegeHeld, 0);
  QCOMPARE(m.cpu.msrReads.size(), size_t(privilege ? 1 : 0));
}

void TestCpuPrimitives::failedMsrReadLeavesTheSlots() {
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

void TestCpuPrimitives::portSequence_data() {
  QTest::addColumn<int>("failingOp");
  QTest::addColumn<int>("expectedResult");
  QTest::newRow("all three succeed") << -1 << 1;
  QTest::newRow("first write fails") << 0 << 0;
  QTest::newRow("read fails") << 2 << 0;
}

void TestCpuPrimitives::portSequence() {
  QFETCH(int, failingOp);
  QFETCH(int, expectedResult);
  RecordedMachine m;
  m.cpu.failingPortOps.insert(failingOp);
  const uint32_t address = 0x800003E4 | ((1 + 0x18) & 0x1F) << 11;
  m.cpu.pciRegisters[{address, 4}] = 0x00470000;

  uint32_t out = 0;
  QCOMPARE(bReadIO_Win32(0xCF8, address, 0xCFC, 4, &out), expectedResult);
  // Every operation is attempted even after a failure.
  QCOMPARE(m.cpu.portLog.size(), size_t(3));
  QVERIFY(m.cpu.portLog[0].write && m.cpu.portLog[0].port == 0xCF8 &&
          m.cpu.portLog[0].value == address);
  QVERIFY(m.cpu.portLog[1].write && m.cpu.portLog[1].port == 0xCFC &&
          m.cpu.portLog[1].value == 4);
  QVERIFY(!m.cpu.portLog[2].write && m.cpu.portLog[2].port == 0xCFC);
  QCOMPARE(m.cpu.privilegeHeld, 0);

  if (failingOp < 0)
    QCOMPARE(ReadK8ThermTrip(address, 4), 0x00470000u);
}

void TestCpuPrimitives::waitMovesTheProcessorsClockOnly() {
  RecordedMachine m;
  m.cpu.privilegeAvailable = false;
  QCOMPARE(ReadK8ThermTrip(0x800003E4, 0), 0u);
  QVERIFY(m.cpu.portLog.empty());

  uint32_t before = m.fake.timeGetTime();
  Wait(0);
  Wait(-5);
  QCOMPARE(m.fake.timeGetTime(), before);
  Wait(400);
  QCOMPARE(m.fake.timeGetTime(), before + 400);
}

void TestCpuPrimitives::engineArgument_data() {
  QTest::addColumn<int>("l2PerPackage");
  QTest::addColumn<int>("packages");
  QTest::addColumn<int>("l2Size");
  QTest::addColumn<int>("logical");
  QTest::addColumn<int>("expected");
  QTest::newRow("no L2 count") << 0 << 1 << 1024 << 2 << 0;
  QTest::newRow("identification stopped early") << 0 << 0 << 0 << 0 << 0;
}

void TestCpuPrimitives::engineArgument() {
  QFETCH(int, l2PerPackage);
  QFETCH(int, packages);
  QFETCH(int, l2Size);
  QFETCH(int, logical);
  QFETCH(int, expected);
  SystemInfo info{};
  info.L2PerPackage = uint8_t(l2PerPackage);
  info.PackageCount = uint8_t(packages);
  info.L2Size = uint16_t(l2Size);
  info.LogicalCount = uint8_t(logical);
  QCOMPARE(l2KbPerLogical(info), expected);
}

QTEST_GUILESS_MAIN(TestCpuPrimitives)
#include "tst_cpuprimitives.moc"

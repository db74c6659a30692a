#include "platform/CpuAccess.h"
#include "sensors/ThermalSensors.h"
#include "sysinfo/SystemInfo.h"

#include <QtTest>

#include <thread>

namespace {

// A processor with the digital thermal sensor whose status register answers
// only after a delay, as when the stress workers keep its core busy.
class SlowSensor : public CpuAccess {
public:
  explicit SlowSensor(int delayMs) : delayMs_(delayMs) {}
  std::atomic<int> reads{0};

  CpuidResult cpuid(uint32_t leaf, uint32_t) override {
    return leaf == 6 ? CpuidResult{1, 2, 0, 0} : CpuidResult{};
  }
  uint64_t rdtsc() override { return 0; }
  uint64_t xgetbv(uint32_t) override { return 0; }
  void spin(int) override {}
  bool setPrivilege(const char *, bool) override { return true; }
  bool readMsr(uint32_t msr, uint64_t *value) override {
    if (msr == MSR_THERM_STATUS) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
      ++reads;
    }
    *value = uint64_t(30) << 16;
    return true;
  }
  bool readMsrOf(int, uint32_t, uint64_t *) override { return false; }

private:
  int delayMs_;
};

} // namespace

// The Intel reading on real threads of the Linux platform layer.
class TestIntelThread : public QObject {
  Q_OBJECT

private slots:
  void cleanup() {
    setCpuAccess(nullptr);
    m_SystemInfo = SystemInfo{};
  }

  void readsOnItsProcessor_data() {
    QTest::addColumn<bool>("late");
    QTest::newRow("in time") << false;
    QTest::newRow("late thread writes only into its own reading") << true;
  }

  void readsOnItsProcessor() {
    QFETCH(bool, late);
    SlowSensor cpu(late ? 900 : 0);
    setCpuAccess(&cpu);
    m_SystemInfo.TjMax = 100;
    double temperature = 50, vcore = 1.2;
    QStringList log;
    QCOMPARE(ReadIntelCoreSource(0, &temperature, &vcore,
                                 [&](const QString &l) { log << l; }),
             1);
    QCOMPARE(cpu.reads.load(), late ? 0 : 1);
    // A late thread finishes after the caller gave up on it.
    QTRY_COMPARE_WITH_TIMEOUT(cpu.reads.load(), 1, 5000);
    QTest::qWait(50);
    QCOMPARE(temperature, late ? 50.0 : 70.0);
    QCOMPARE(vcore, late ? 1.2 : NO_READING);
    QVERIFY(log.isEmpty());
  }
};

QTEST_GUILESS_MAIN(TestIntelThread)
#include "tst_intelthread.moc"

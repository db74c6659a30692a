#include "app/Vorsk.h"
#include "platform/linux/LinuxPlatform.h"
#include "stress/EngineContract.h"
#include "stress/ThreadStress.h"
#include "sysinfo/SystemInfo.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {
const char *const ENGINES[] = {"Burnmod.so", "Burnmod1.so"};

void removeEngines() {
  for (const QString &f : QDir().entryList({"Burnmod*.so"}))
    QFile::remove(f);
}

// The processor the engine loaded from `file` last ran on; the test loads
// the same file, so it sees the worker's instance.
int lastCpu(const char *file) {
  Platform &os = platform();
  LibraryHandle library = os.loadLibrary(file);
  if (!library)
    return -2;
  auto *cpu = static_cast<int *>(os.getProcAddress(library, "LastCpu"));
  const int value = cpu ? __atomic_load_n(cpu, __ATOMIC_RELAXED) : -3;
  os.freeLibrary(library);
  return value;
}
} // namespace

// One whole run on the Linux platform: two workers on real threads, each
// bound to its processor and running a fixture engine until stopped.
class RealRunTest : public QObject {
  Q_OBJECT

  Platform *previous = nullptr;

  static void tick(Vorsk &w) {
    QTimerEvent event(w.TestTimer);
    w.timerEvent(&event);
  }

private slots:
  void initTestCase() { previous = setPlatform(&linuxPlatform()); }
  void cleanupTestCase() { setPlatform(previous); }
  void init() {
    removeEngines();
    QFile::remove("Vorsk.ini");
  }
  void cleanup() {
    setStopFlagLowByte(&bStopTest, 1);
    removeEngines();
    QFile::remove("Vorsk.ini");
    QFile::remove("Event.log");
  }

  void bothProcessorsBusyUntilStopped() {
    uint64_t processMask = 0, systemMask = 0;
    QVERIFY(platform().getProcessAffinityMask(&processMask, &systemMask));
    if ((processMask & 3) != 3)
      QSKIP("processors 0 and 1 are not both available");
    for (const char *file : ENGINES)
      QVERIFY(QFile::copy(FIXTURE_DIR "/report_cpu.so", file));

    Vorsk w;
    m_SystemInfo.LogicalCount = 2;
    w.on_pushTest_clicked();
    platform().sleep(1000);
    tick(w);
    QCOMPARE(ui(w).pushTest->text(), QString("Arrêter"));
    platform().sleep(1000);
    tick(w);
    QCOMPARE(stopFlagLowByte(&bStopTest), 0);
    QCOMPARE(lastCpu(ENGINES[0]), 0);
    QCOMPARE(lastCpu(ENGINES[1]), 1);
    for (int i = 0; i < 2; ++i)
      QVERIFY2(m_SystemInfo.ThreadTime[i] > 0, "a worker got no processor");
    QVERIFY(w.TestTime > QTime(0, 0));

    const ThreadHandle threads[] = {m_SystemInfo.hThread[0],
                                    m_SystemInfo.hThread[1]};
    w.on_pushTest_clicked();
    for (ThreadHandle thread : threads) {
      QCOMPARE(platform().waitForThread(thread, 5000), WaitResult::Ended);
      uint32_t code = STILL_ACTIVE;
      QVERIFY(platform().getExitCodeThread(thread, &code));
      QCOMPARE(code, 0u);
    }
    const QStringList log = ui(w).textLog->toPlainText().split('\n');
    const int duration =
        log.indexOf(QRegularExpression("^Durée du test : 00:00:0[2-9]$"));
    QVERIFY(duration > 0);
    QVERIFY(log[duration - 1].startsWith("Fréquence : "));
    QVERIFY(log[duration + 1].startsWith("Utilisation CPU : "));
    QVERIFY(log.contains("Test stoppé par l'utilisateur."));

    tick(w);
    QCOMPARE(ui(w).pushTest->text(), QString("Démarrer"));
    QVERIFY(ui(w).pushTest->isEnabled());
    for (int i = 0; i < 2; ++i)
      QCOMPARE(m_SystemInfo.hThread[i], ThreadHandle(0));
  }

private:
  static Ui_VorskClass &ui(Vorsk &w) { return w.ui; }
};

QTEST_MAIN(RealRunTest)
#include "tst_realrun.moc"

#include "platform/Platform.h"
#include "stress/EngineContract.h"
#include "stress/EngineFiles.h"
#include "stress/ThreadStress.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

namespace {
void removeEngines() {
  for (const QString &f : QDir().entryList({"Burnmod*.so"}))
    QFile::remove(f);
}
} // namespace

// The real engine, loaded as the program loads it: one copy per worker,
// each worker pinned to its own processor.
class EngineWorkersTest : public QObject {
  Q_OBJECT

private slots:
  void init() {
    removeEngines();
    setStopFlagLowByte(&bStopTest, 1);
  }
  void cleanup() {
    setStopFlagLowByte(&bStopTest, 1);
    removeEngines();
  }

  void everyWorkerRunsItsCopyAndStopsPromptly() {
    const QString built =
        qEnvironmentVariable("VORSK_BIN_DIR") + "/" + ENGINE_FILE;
    QVERIFY2(QFile::copy(built, ENGINE_FILE), qPrintable(built));
    uint64_t processMask = 0, systemMask = 0;
    Platform &os = platform();
    QVERIFY(os.getProcessAffinityMask(&processMask, &systemMask));
    int workers = 0;
    while (workers < 32 && (processMask & (1ull << workers)))
      ++workers;
    QVERIFY(workers > 0);
    PrepareEngineCopies(workers, QCoreApplication::applicationDirPath());
    for (int k = 1; k < workers; ++k)
      QVERIFY(QFile::exists(QString::fromStdString(engineFileName(k))));

    RunTestArgument = 1024;
    setStopFlagLowByte(&bStopTest, 0);
    ThreadHandle threads[32] = {};
    for (int k = 0; k < workers; ++k) {
      threads[k] = os.createThreadSuspended(
          ThreadStress, reinterpret_cast<void *>(uintptr_t(k)));
      QVERIFY(threads[k]);
      QVERIFY(os.setThreadAffinityMask(threads[k], 1ull << k));
      QVERIFY(os.resumeThread(threads[k]) != RESUME_FAILED);
    }
    for (int k = 0; k < workers; ++k) {
      uint32_t code = 0;
      QVERIFY(os.getExitCodeThread(threads[k], &code));
      QCOMPARE(code, STILL_ACTIVE);
    }
    os.sleep(500);
    QElapsedTimer timer;
    timer.start();
    setStopFlagLowByte(&bStopTest, 1);
    for (int k = 0; k < workers; ++k) {
      QCOMPARE(os.waitForThread(threads[k], 5000), WaitResult::Ended);
      uint32_t code = STILL_ACTIVE;
      QVERIFY(os.getExitCodeThread(threads[k], &code));
      QCOMPARE(code, uint32_t(ENGINE_STOPPED));
      os.closeHandle(threads[k]);
    }
    // The bench measures the latency; this bound only catches an engine
    // that no longer polls the flag.
    QVERIFY2(timer.elapsed() < 1000,
             qPrintable(QString("%1 ms").arg(timer.elapsed())));
  }
};

QTEST_GUILESS_MAIN(EngineWorkersTest)
#include "tst_engineworkers.moc"

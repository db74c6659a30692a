#include "platform/EngineContract.h"
#include "platform/linux/LinuxPlatform.h"
#include "stress/WorkerInstall.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <numeric>

#include <sys/stat.h>

// The real engine, run as the program runs it: one worker process per
// processor, all loading the one engine file from a folder they cannot write.
class EngineWorkersTest : public QObject {
  Q_OBJECT

private slots:
  void cleanup() { setStopFlagLowByte(&workerStopFlag(), 1); }

  void everyWorkerRunsTheOneEngineAndStopsPromptly() {
    QTemporaryDir folder;
    const QString built =
        qEnvironmentVariable("VORSK_BIN_DIR") + "/" + ENGINE_FILE;
    QVERIFY2(installWorker(folder.path(), built), qPrintable(built));
    QCOMPARE(chmod(QFile::encodeName(folder.path()), 0555), 0);
    const QStringList installed = QDir(folder.path()).entryList(QDir::Files);

    CpuSet processMask, systemMask;
    Platform &os = linuxPlatform();
    QVERIFY(os.getProcessAffinityMask(&processMask, &systemMask));
    std::vector<ThreadHandle> workers;
    setStopFlagLowByte(&workerStopFlag(), 0);
    for (int cpu : processMask.members()) {
      const ThreadHandle h = os.createWorkerSuspended(1024);
      QVERIFY(h);
      QVERIFY(os.setThreadAffinityMask(h, CpuSet::single(cpu)));
      QCOMPARE(os.resumeThread(h), 1u);
      workers.push_back(h);
    }
    os.sleep(1000);
    for (ThreadHandle h : workers) {
      uint32_t code = 0;
      QVERIFY(os.getExitCodeThread(h, &code));
      QCOMPARE(code, STILL_ACTIVE);
    }
    QElapsedTimer timer;
    timer.start();
    setStopFlagLowByte(&workerStopFlag(), 1);
    for (ThreadHandle h : workers) {
      QCOMPARE(os.waitForThread(h, 5000), WaitResult::Ended);
      uint32_t code = STILL_ACTIVE;
      QVERIFY(os.getExitCodeThread(h, &code));
      QCOMPARE(code, uint32_t(ENGINE_STOPPED));
    }
    // The bench measures the latency; this bound only catches an engine
    // that no longer polls the flag.
    QVERIFY2(timer.elapsed() < 1000,
             qPrintable(QString("%1 workers reaped after %2 ms")
                            .arg(workers.size())
                            .arg(timer.elapsed())));
    // Every worker's verified work reached the program, in whole units of
    // 2 x M x N x K operations (M = 48 rows for 1 MB of L2).
    for (ThreadHandle h : workers) {
      WorkerCounters counters;
      QVERIFY(os.getWorkerCounters(h, &counters));
      const uint64_t *flops = counters.verifiedFlops;
      QVERIFY(std::accumulate(flops, flops + WORKER_PATH_COUNT, 0ull) > 0);
      for (int p = 0; p < WORKER_PATH_COUNT; ++p)
        QCOMPARE(flops[p] % (2ull * 48 * 64 * 512), 0ull);
    }
    for (ThreadHandle h : workers)
      QVERIFY(os.closeHandle(h));
    // Nothing written beside the engine: no copies, no scratch files.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), installed);
    QCOMPARE(chmod(QFile::encodeName(folder.path()), 0755), 0);
  }
};

QTEST_GUILESS_MAIN(EngineWorkersTest)
#include "tst_engineworkers.moc"

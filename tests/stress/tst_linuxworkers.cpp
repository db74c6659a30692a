#include "platform/EngineContract.h"
#include "platform/linux/LinuxPlatform.h"
#include "stress/WorkerInstall.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/prctl.h>

namespace {
// Waits up to 10 s for a file matching `pattern` in the working directory.
QString awaitFile(const QString &pattern) {
  for (int i = 0; i < 1000; ++i) {
    const QStringList found = QDir().entryList({pattern});
    if (!found.isEmpty())
      return found.first();
    linuxPlatform().sleep(10);
  }
  return QString();
}

int highestProcessor() {
  CpuSet processMask, systemMask;
  linuxPlatform().getProcessAffinityMask(&processMask, &systemMask);
  return processMask.empty() ? -1 : processMask.members().back();
}
} // namespace

// Worker handles of the Linux platform on real worker processes.
class LinuxWorkersTest : public QObject {
  Q_OBJECT

  QTemporaryDir install;

private slots:
  void init() {
    setStopFlagLowByte(&workerStopFlag(), 1);
    for (const QString &f : QDir().entryList({"started.*", "cpus.*"}))
      QFile::remove(f);
  }
  void cleanup() {
    init();
    QVERIFY(noChildLeft());
  }

  // A worker waits suspended, runs on its processor once resumed, idles
  // while paused (no processor time, and it hears the stop flag only once
  // it goes on), and ends with its code and no signal.
  void suspendedPinnedPausedStoppedAndReaped() {
    QVERIFY(installWorker(install.path(), fixture("probe")));
    Platform &os = linuxPlatform();
    setStopFlagLowByte(&workerStopFlag(), 0);
    const ThreadHandle h = os.createWorkerSuspended(42);
    QVERIFY(h);
    uint32_t code = 0;
    QVERIFY(os.getExitCodeThread(h, &code));
    QCOMPARE(code, STILL_ACTIVE);
    QCOMPARE(os.waitForThread(h, 300), WaitResult::TimedOut);
    QVERIFY2(QDir().entryList({"started.*"}).isEmpty(), "ran before resume");

    const int cpu = highestProcessor();
    QVERIFY(os.setThreadAffinityMask(h, CpuSet::single(cpu)));
    QVERIFY(os.setThreadPriority(h, ThreadPriority::AboveNormal));
    QCOMPARE(os.resumeThread(h), 1u);
    QCOMPARE(os.resumeThread(h), RESUME_FAILED);
    const QString started = awaitFile("started.*");
    QVERIFY(!started.isEmpty());
    uint64_t running = 0, paused = 0, later = 0;
    while (running == 0) {
      QVERIFY(os.getThreadUserTime(h, &running));
      os.sleep(10);
    }

    QVERIFY(os.pauseWorker(h, true));
    os.sleep(100);
    QVERIFY(os.getThreadUserTime(h, &paused));
    os.sleep(300);
    QVERIFY(os.getThreadUserTime(h, &later));
    QCOMPARE(later, paused);
    setStopFlagLowByte(&workerStopFlag(), 1);
    QCOMPARE(os.waitForThread(h, 300), WaitResult::TimedOut);
    QVERIFY(os.pauseWorker(h, false));
    QCOMPARE(os.waitForThread(h, 10000), WaitResult::Ended);
    QVERIFY(os.getExitCodeThread(h, &code));
    QCOMPARE(code, 42u);
    int signal = -1;
    QVERIFY(os.getWorkerSignal(h, &signal));
    QCOMPARE(signal, 0);
    uint64_t ended = 0;
    QVERIFY(os.getThreadUserTime(h, &ended));
    QVERIFY(ended >= running);
    const QString pid = started.mid(started.indexOf('.') + 1);
    QCOMPARE(contents("cpus." + pid).toULongLong(), 1ull << cpu);
    QVERIFY(!os.pauseWorker(h, false));
    QVERIFY(os.closeHandle(h));
    QVERIFY(!os.closeHandle(h));
    QVERIFY(!os.getWorkerSignal(h, &signal));
  }

  // Each worker's counts reach the program while it runs and after its end,
  // each its own, until its handle is closed.
  void countsReadWhileRunningAndAfterTheEnd() {
    QVERIFY(installWorker(install.path(), fixture("counting")));
    Platform &os = linuxPlatform();
    setStopFlagLowByte(&workerStopFlag(), 0);
    const int arguments[] = {1000, 7000};
    const ThreadHandle workers[] = {os.createWorkerSuspended(arguments[0]),
                                    os.createWorkerSuspended(arguments[1])};
    // A failed check must not leave workers for the next test to count.
    auto closeAll = qScopeGuard([&] {
      for (ThreadHandle h : workers)
        os.closeHandle(h);
    });
    // The counting engine publishes (path + 1) x its argument, one more on
    // each path once stopped.
    auto published = [&](int i, int extra) {
      WorkerCounters read;
      bool same = os.getWorkerCounters(workers[i], &read);
      for (int p = 0; p < WORKER_PATH_COUNT; ++p)
        same &=
            read.verifiedFlops[p] == uint64_t((p + 1) * arguments[i] + extra);
      return same;
    };
    for (ThreadHandle h : workers)
      QCOMPARE(os.resumeThread(h), 1u);
    for (int i = 0; i < 2; ++i) {
      for (int tries = 0; tries < 1000 && !published(i, 0); ++tries)
        os.sleep(10);
      QVERIFY(published(i, 0));
      uint32_t code = 0;
      QVERIFY(os.getExitCodeThread(workers[i], &code));
      QCOMPARE(code, STILL_ACTIVE);
    }
    setStopFlagLowByte(&workerStopFlag(), 1);
    for (int i = 0; i < 2; ++i) {
      QCOMPARE(os.waitForThread(workers[i], 10000), WaitResult::Ended);
      QVERIFY(published(i, 1));
    }
    closeAll.dismiss();
    for (ThreadHandle h : workers) {
      WorkerCounters read;
      QVERIFY(os.closeHandle(h));
      QVERIFY(!os.getWorkerCounters(h, &read));
    }
  }

  // Killing is a real end, with the signal to tell; a handle closed on a
  // worker suspended or running leaves no process behind.
  void killedAndClosedWorkersLeaveNoProcess() {
    QVERIFY(installWorker(install.path(), fixture("deaf")));
    Platform &os = linuxPlatform();
    const ThreadHandle killed = os.createWorkerSuspended(0);
    const ThreadHandle suspended = os.createWorkerSuspended(0);
    const ThreadHandle running = os.createWorkerSuspended(0);
    QVERIFY(killed && suspended && running);
    QCOMPARE(os.resumeThread(killed), 1u);
    QCOMPARE(os.resumeThread(running), 1u);
    QCOMPARE(childProcesses().size(), 3);

    QVERIFY(os.terminateThread(killed, 10000));
    uint32_t code = 0;
    QVERIFY(os.getExitCodeThread(killed, &code));
    QCOMPARE(code, uint32_t(128 + SIGKILL));
    int signal = 0;
    QVERIFY(os.getWorkerSignal(killed, &signal));
    QCOMPARE(signal, SIGKILL);
    for (ThreadHandle h : {killed, suspended, running})
      QVERIFY(os.closeHandle(h));
    QVERIFY(noChildLeft());
  }

  // A worker never runs on unsupervised: when the program dies, even by
  // SIGKILL, its workers die with it.
  void workersDieWithTheProgram() {
    QVERIFY(installWorker(install.path(), fixture("probe")));
    setStopFlagLowByte(&workerStopFlag(), 0);
    // Orphans come to this process, which can then see them end.
    QCOMPARE(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int ready[2];
    QCOMPARE(pipe(ready), 0);
    const pid_t program = fork();
    if (program == 0) {
      Platform &os = linuxPlatform();
      const ThreadHandle h = os.createWorkerSuspended(0);
      const char started = h && os.resumeThread(h) == 1;
      if (write(ready[1], &started, 1) != 1)
        _exit(1);
      pause();
      _exit(0);
    }
    char started = 0;
    QCOMPARE(read(ready[0], &started, 1), ssize_t(1));
    close(ready[0]);
    close(ready[1]);
    QVERIFY(started);
    QVERIFY(!awaitFile("started.*").isEmpty());

    kill(program, SIGKILL);
    QCOMPARE(waitpid(program, nullptr, 0), program);
    bool gone = false;
    for (int i = 0; i < 1000 && !gone; ++i) {
      gone = noChildLeft();
      if (!gone) {
        waitpid(-1, nullptr, WNOHANG);
        linuxPlatform().sleep(10);
      }
    }
    for (pid_t orphan : childProcesses())
      kill(orphan, SIGKILL);
    while (waitpid(-1, nullptr, 0) > 0) {
    }
    QVERIFY2(gone, "a worker outlived its program");
  }
};

QTEST_GUILESS_MAIN(LinuxWorkersTest)
#include "tst_linuxworkers.moc"

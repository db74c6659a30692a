#include "ThreadProbe.h"
#include "platform/linux/LinuxPlatform.h"

#include <QElapsedTimer>
#include <QtTest>

#include <sys/resource.h>

Q_DECLARE_METATYPE(ThreadProc)

namespace {

uint32_t returnAtOnce(void *param) {
  auto *probe = static_cast<ThreadProbe *>(param);
  reportStart(probe);
  return probe->result;
}

} // namespace

class LinuxThreadsTest : public QObject {
  Q_OBJECT

  Platform &p = linuxPlatform();
  CpuSet processMask;

private slots:
  void initTestCase() {
    CpuSet systemMask;
    QVERIFY(p.getProcessAffinityMask(&processMask, &systemMask));
  }

  // A thread runs only once resumed, is still active while it runs, and
  // waits time out until it ends with its procedure's result.
  void lifeOfAThread_data() {
    QTest::addColumn<uint32_t>("result");
    QTest::newRow("result 0") << 0u;
    QTest::newRow("result 42") << 42u;
    QTest::newRow("result with the top bit set") << 0xC0000005u;
  }

  void lifeOfAThread() {
    QFETCH(uint32_t, result);
    TestThread t(p, idleUntilReleased, result);
    QVERIFY(t.handle != 0);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(p.waitForThread(t.handle, 50), WaitResult::TimedOut);
    QVERIFY(clock.elapsed() >= 49);
    QVERIFY(!t.probe.ran);
    uint32_t code = 0;
    QVERIFY(p.getExitCodeThread(t.handle, &code));
    QCOMPARE(code, STILL_ACTIVE);

    QVERIFY(t.start());
    QCOMPARE(p.resumeThread(t.handle), RESUME_FAILED);
    clock.restart();
    QCOMPARE(p.waitForThread(t.handle, 30), WaitResult::TimedOut);
    QVERIFY(clock.elapsed() >= 29);
    QVERIFY(p.getExitCodeThread(t.handle, &code));
    QCOMPARE(code, STILL_ACTIVE);

    t.probe.release = true;
    QCOMPARE(p.waitForThread(t.handle, 5000), WaitResult::Ended);
    QCOMPARE(p.waitForThread(t.handle, 0), WaitResult::Ended);
    QVERIFY(p.getExitCodeThread(t.handle, &code));
    QCOMPARE(code, result);
  }

  // Pinned to one allowed processor, the thread runs there; a refused set
  // changes nothing, and never the calling thread.
  void threadAffinity_data() {
    QTest::addColumn<QVector<int>>("cpus");
    QTest::addColumn<bool>("pinned");
    for (int cpu = 0; cpu < 2; ++cpu)
      if (processMask.contains(cpu))
        QTest::newRow(qPrintable(QString("processor %1").arg(cpu)))
            << QVector<int>{cpu} << true;
    // Beyond the 64 processors of a single mask word, and not ours.
    const int foreign = processMask.members().back() + 100;
    QTest::newRow("empty set") << QVector<int>{} << false;
    QTest::newRow("no allowed processor") << QVector<int>{foreign} << false;
    QTest::newRow("an allowed and a foreign processor")
        << QVector<int>{processMask.members().front(), foreign} << false;
  }

  void threadAffinity() {
    QFETCH(QVector<int>, cpus);
    QFETCH(bool, pinned);
    CpuSet mask;
    for (int cpu : cpus)
      mask.add(cpu);
    CpuSet before = callingThreadAffinity();
    TestThread t(p, idleUntilReleased);
    QCOMPARE(p.setThreadAffinityMask(t.handle, mask), pinned);
    QCOMPARE(callingThreadAffinity(), before);
    QVERIFY(t.start());
    if (pinned)
      QCOMPARE(t.probe.cpu.load(), cpus.front());
  }

  // An ended thread has no kernel task left: pinning or renicing it must
  // not land on the calling thread instead.
  void callsOnEndedThreadLeaveCallerAlone() {
    CpuSet affinityBefore = callingThreadAffinity();
    int niceBefore = getpriority(PRIO_PROCESS, 0);
    int tasksBefore = taskCount();
    TestThread t(p, returnAtOnce);
    QCOMPARE(p.resumeThread(t.handle), 1u);
    QCOMPARE(p.waitForThread(t.handle, 5000), WaitResult::Ended);
    QTRY_COMPARE(taskCount(), tasksBefore);
    QVERIFY(p.setThreadAffinityMask(
        t.handle, CpuSet::single(processMask.members().front())));
    QVERIFY(p.setThreadPriority(t.handle, ThreadPriority::AboveNormal));
    QVERIFY(p.setThreadPriorityBoost(t.handle, true));
    QCOMPARE(callingThreadAffinity(), affinityBefore);
    QCOMPARE(getpriority(PRIO_PROCESS, 0), niceBefore);
  }

  void callsOnInvalidHandleFail_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("null handle") << "null";
    QTest::newRow("closed handle") << "closed";
    QTest::newRow("handle never issued") << "unknown";
  }

  void callsOnInvalidHandleFail() {
    QFETCH(QString, kind);
    ThreadHandle h = 0;
    if (kind == "closed") {
      TestThread t(p, returnAtOnce);
      h = t.handle;
      p.resumeThread(h);
      QCOMPARE(p.waitForThread(h, 5000), WaitResult::Ended);
      QVERIFY(p.closeHandle(h));
    } else if (kind == "unknown") {
      h = ThreadHandle(0x7fff0000);
    }
    uint32_t code = 7;
    uint64_t time = 7;
    QVERIFY(!p.setThreadAffinityMask(h, processMask));
    QVERIFY(!p.setThreadPriority(h, ThreadPriority::Normal));
    QVERIFY(!p.setThreadPriorityBoost(h, true));
    QCOMPARE(p.resumeThread(h), RESUME_FAILED);
    QCOMPARE(p.waitForThread(h, 10), WaitResult::Failed);
    QVERIFY(!p.getExitCodeThread(h, &code));
    QVERIFY(!p.getThreadUserTime(h, &time));
    QCOMPARE(code, 7u);
    QCOMPARE(time, uint64_t(7));
    QVERIFY(!p.terminateThread(h, 10));
    QVERIFY(!p.closeHandle(h));
  }

  void userTimeFollowsWork_data() {
    QTest::addColumn<ThreadProc>("proc");
    QTest::addColumn<bool>("busy");
    QTest::newRow("busy loop") << ThreadProc(spinUntilReleased) << true;
    QTest::newRow("sleeping") << ThreadProc(idleUntilReleased) << false;
  }

  // /proc counts in 10 ms ticks and the machine may be shared: the bounds
  // are wide on purpose (300 ms of wall time, 50 ms of processor time).
  void userTimeFollowsWork() {
    QFETCH(ThreadProc, proc);
    QFETCH(bool, busy);
    TestThread t(p, proc);
    uint64_t before = 1;
    QVERIFY(p.getThreadUserTime(t.handle, &before));
    QCOMPARE(before, uint64_t(0));
    QVERIFY(t.start());
    QTest::qWait(300);
    uint64_t running = 0;
    QVERIFY(p.getThreadUserTime(t.handle, &running));
    if (busy)
      QVERIFY2(running >= 500'000, qPrintable(QString::number(running)));
    else
      QVERIFY2(running <= 500'000, qPrintable(QString::number(running)));

    t.probe.release = true;
    QCOMPARE(p.waitForThread(t.handle, 5000), WaitResult::Ended);
    QTest::qWait(20);
    uint64_t ended = 0, again = 0;
    QVERIFY(p.getThreadUserTime(t.handle, &ended));
    QVERIFY(ended >= running);
    QVERIFY(ended < running + 5'000'000);
    QVERIFY(p.getThreadUserTime(t.handle, &again));
    QCOMPARE(again, ended);
  }

  void terminateWaitsBoundedly_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<uint32_t>("exitCode");
    QTest::newRow("thread that keeps running")
        << "running" << false << STILL_ACTIVE;
    QTest::newRow("thread that already ended") << "ended" << true << 5u;
    QTest::newRow("thread never resumed") << "suspended" << true << 0u;
  }

  // The guard lets a thread that kept running finish at the end.
  void terminateWaitsBoundedly() {
    QFETCH(QString, state);
    QFETCH(bool, ends);
    QFETCH(uint32_t, exitCode);
    TestThread t(p, idleUntilReleased, 5);
    if (state != "suspended") {
      QVERIFY(t.start());
    }
    if (state == "ended") {
      t.probe.release = true;
      QCOMPARE(p.waitForThread(t.handle, 5000), WaitResult::Ended);
    }
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(p.terminateThread(t.handle, 100), ends);
    if (ends)
      QVERIFY(clock.elapsed() < 100);
    else
      QVERIFY(clock.elapsed() >= 99 && clock.elapsed() < 1000);
    uint32_t code = 0;
    QVERIFY(p.getExitCodeThread(t.handle, &code));
    QCOMPARE(code, exitCode);
    if (state == "suspended") {
      QCOMPARE(p.waitForThread(t.handle, 0), WaitResult::Ended);
      QCOMPARE(p.resumeThread(t.handle), RESUME_FAILED);
      QTest::qWait(20);
      QVERIFY(!t.probe.ran);
    }
  }

  void closingNeverResumedThreadsDoesNotRunThem() {
    int tasksBefore = taskCount();
    ThreadProbe probes[3];
    ThreadHandle handles[3];
    for (int i = 0; i < 3; ++i)
      handles[i] = p.createThreadSuspended(idleUntilReleased, &probes[i]);
    QCOMPARE(taskCount(), tasksBefore + 3);
    QElapsedTimer clock;
    clock.start();
    for (ThreadHandle h : handles)
      QVERIFY(p.closeHandle(h));
    QVERIFY(clock.elapsed() < 500);
    // The kernel lists a joined thread's task for a moment after the join.
    QTRY_COMPARE(taskCount(), tasksBefore);
    QTest::qWait(20);
    for (ThreadProbe &probe : probes)
      QVERIFY(!probe.ran);
  }

  // Closing a running thread does not wait for it; the thread goes away
  // when its procedure returns.
  void closingRunningThreadLetsItFinish() {
    int tasksBefore = taskCount();
    static ThreadProbe probe; // outlives the test if the thread does
    ThreadHandle h = p.createThreadSuspended(idleUntilReleased, &probe);
    p.resumeThread(h);
    QTRY_VERIFY(probe.ran);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(p.closeHandle(h));
    QVERIFY(clock.elapsed() < 500);
    QCOMPARE(taskCount(), tasksBefore + 1);
    probe.release = true;
    QTRY_COMPARE(taskCount(), tasksBefore);
  }
};

QTEST_GUILESS_MAIN(LinuxThreadsTest)
#include "tst_linuxthreads.moc"

#include "ThreadProbe.h"
#include "platform/linux/LinuxPlatform.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cerrno>
#include <chrono>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int niceOf(int tid) {
  errno = 0;
  return getpriority(PRIO_PROCESS, id_t(tid));
}

QList<int> tasks() {
  QList<int> result;
  QDir dir("/proc/self/task");
  for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    result << name.toInt();
  return result;
}

// Capabilities are per thread: without CAP_SYS_NICE in its effective set,
// root's calling thread is refused a raise like an ordinary user.
bool setNiceCapability(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0)
    return false;
  if (on)
    data[0].effective |= 1u << CAP_SYS_NICE;
  else
    data[0].effective &= ~(1u << CAP_SYS_NICE);
  return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

class LinuxProcessTest : public QObject {
  Q_OBJECT

  Platform &p = linuxPlatform();
  int baseNice = 0;
  CpuSet processMask;
  CpuSet systemMask;

  bool mayRaisePriority() const { return geteuid() == 0; }

private slots:
  void initTestCase() {
    baseNice = niceOf(0);
    QVERIFY(p.getProcessAffinityMask(&processMask, &systemMask));
  }

  void cleanup() {
    p.setPriorityClass(NORMAL_PRIORITY_CLASS);
    p.setProcessAffinityMask(processMask);
  }

  void processAffinityMasks() {
    QVERIFY(!processMask.empty());
    QVERIFY(processMask.isSubsetOf(systemMask));
    QCOMPARE(processMask, callingThreadAffinity());
    QCOMPARE(long(systemMask.count()), sysconf(_SC_NPROCESSORS_ONLN));
  }

  // The process mask pins the calling thread; a refused mask changes
  // nothing.
  void processAffinity_data() {
    QTest::addColumn<int>("cpu"); // -1: the empty set
    QTest::addColumn<bool>("pinned");
    for (int cpu = 0; cpu < 2; ++cpu)
      if (processMask.contains(cpu))
        QTest::newRow(qPrintable(QString("processor %1").arg(cpu)))
            << cpu << true;
    QTest::newRow("empty set") << -1 << false;
    QTest::newRow("no allowed processor")
        << processMask.members().back() + 100 << false;
  }

  void processAffinity() {
    QFETCH(int, cpu);
    QFETCH(bool, pinned);
    QCOMPARE(p.setProcessAffinityMask(CpuSet::single(cpu)), pinned);
    if (pinned) {
      QCOMPARE(callingThreadAffinity(), CpuSet::single(cpu));
      QCOMPARE(sched_getcpu(), cpu);
      QVERIFY(p.setProcessAffinityMask(processMask));
    }
    QCOMPARE(callingThreadAffinity(), processMask);
  }

  // A known class renices every thread, running or not, and normal undoes
  // it; an unknown class changes nothing.
  void priorityClass_data() {
    QTest::addColumn<uint32_t>("priorityClass");
    QTest::addColumn<bool>("known");
    QTest::addColumn<int>("offset");
    QTest::newRow("above normal")
        << uint32_t(ABOVE_NORMAL_PRIORITY_CLASS) << true << -5;
    QTest::newRow("normal") << uint32_t(NORMAL_PRIORITY_CLASS) << true << 0;
    QTest::newRow("below normal")
        << uint32_t(BELOW_NORMAL_PRIORITY_CLASS) << true << 5;
    QTest::newRow("zero") << 0u << false << 0;
    QTest::newRow("idle class") << 0x40u << false << 0;
    QTest::newRow("high class") << 0x80u << false << 0;
    QTest::newRow("realtime class") << 0x100u << false << 0;
  }

  void priorityClass() {
    QFETCH(uint32_t, priorityClass);
    QFETCH(bool, known);
    QFETCH(int, offset);
    if (offset < 0 && !mayRaisePriority())
      QSKIP("only root may lower a nice value");
    TestThread running(p, idleUntilReleased);
    TestThread suspended(p, idleUntilReleased);
    QVERIFY(running.start());

    QCOMPARE(p.setPriorityClass(priorityClass), known);
    QCOMPARE(p.currentPriorityClass(),
             known ? priorityClass : uint32_t(NORMAL_PRIORITY_CLASS));
    for (int tid : tasks())
      QCOMPARE(niceOf(tid), baseNice + offset);
    QVERIFY(p.setPriorityClass(NORMAL_PRIORITY_CLASS));
    for (int tid : tasks())
      QCOMPARE(niceOf(tid), baseNice);
  }

  // Lowered, an ordinary user cannot raise the class again, not even back to
  // normal: the class in force stays the lowered one on every thread.
  void refusedRaiseKeepsTheClassInForce() {
    if (!mayRaisePriority())
      QSKIP("only root can go back to normal for the next tests");
    QVERIFY(p.setPriorityClass(BELOW_NORMAL_PRIORITY_CLASS));
    QVERIFY(setNiceCapability(false));
    const bool normal = p.setPriorityClass(NORMAL_PRIORITY_CLASS);
    const bool above = p.setPriorityClass(ABOVE_NORMAL_PRIORITY_CLASS);
    QVERIFY(setNiceCapability(true));
    QVERIFY(!normal && !above);
    QCOMPARE(p.currentPriorityClass(), uint32_t(BELOW_NORMAL_PRIORITY_CLASS));
    for (int tid : tasks())
      QCOMPARE(niceOf(tid), baseNice + 5);
  }

  void threadPriorityRelativeToClass_data() {
    QTest::addColumn<uint32_t>("priorityClass");
    QTest::addColumn<int>("classOffset");
    QTest::addColumn<bool>("above");
    QTest::newRow("normal class, normal thread")
        << uint32_t(NORMAL_PRIORITY_CLASS) << 0 << false;
    QTest::newRow("normal class, above normal thread")
        << uint32_t(NORMAL_PRIORITY_CLASS) << 0 << true;
    QTest::newRow("below normal class, normal thread")
        << uint32_t(BELOW_NORMAL_PRIORITY_CLASS) << 5 << false;
    QTest::newRow("below normal class, above normal thread")
        << uint32_t(BELOW_NORMAL_PRIORITY_CLASS) << 5 << true;
    QTest::newRow("above normal class, above normal thread")
        << uint32_t(ABOVE_NORMAL_PRIORITY_CLASS) << -5 << true;
  }

  // Above normal is one step above the class's base; where the OS refuses
  // the step the thread keeps the base and the call still succeeds.
  void threadPriorityRelativeToClass() {
    QFETCH(uint32_t, priorityClass);
    QFETCH(int, classOffset);
    QFETCH(bool, above);
    if (classOffset < 0 && !mayRaisePriority())
      QSKIP("only root may lower a nice value");
    QVERIFY(p.setPriorityClass(priorityClass));
    TestThread t(p, idleUntilReleased);
    QVERIFY(t.start());
    const int base = baseNice + classOffset;
    const int step = above && mayRaisePriority() ? 1 : 0;
    QVERIFY(p.setThreadPriority(t.handle, above ? ThreadPriority::AboveNormal
                                                : ThreadPriority::Normal));
    QCOMPARE(niceOf(t.probe.tid), base - step);
    // The thread keeps its step when the class changes while it runs.
    if (mayRaisePriority()) {
      QVERIFY(p.setPriorityClass(BELOW_NORMAL_PRIORITY_CLASS));
      QCOMPARE(niceOf(t.probe.tid), baseNice + 5 - step);
      QVERIFY(p.setPriorityClass(NORMAL_PRIORITY_CLASS));
      QCOMPARE(niceOf(t.probe.tid), baseNice - step);
      QVERIFY(p.setPriorityClass(priorityClass));
    }
    QVERIFY(p.setThreadPriority(t.handle, ThreadPriority::Normal));
    QCOMPARE(niceOf(t.probe.tid), base);
  }

  void performanceCounterCountsNanoseconds() {
    QCOMPARE(p.performanceFrequency(), int64_t(1'000'000'000));
    int64_t previous = p.performanceCounter();
    for (int i = 0; i < 1000; ++i) {
      int64_t now = p.performanceCounter();
      QVERIFY(now >= previous);
      previous = now;
    }
    auto wallStart = std::chrono::steady_clock::now();
    int64_t start = p.performanceCounter();
    p.sleep(30);
    int64_t counted = p.performanceCounter() - start;
    auto wall = std::chrono::steady_clock::now() - wallStart;
    QVERIFY(counted >= 30'000'000);
    int64_t wallNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count();
    // Measured inside the wall-clock interval; the clocks may differ by
    // frequency corrections only.
    QVERIFY(counted <= wallNs + 1'000'000);
  }

  void timeGetTimeCountsMilliseconds() {
    QElapsedTimer clock;
    clock.start();
    uint32_t start = p.timeGetTime();
    p.sleep(50);
    uint32_t counted = p.timeGetTime() - start;
    qint64 wall = clock.elapsed();
    QVERIFY2(counted >= 49 && qint64(counted) <= wall + 1,
             qPrintable(QString("%1 ms against %2 ms").arg(counted).arg(wall)));
  }

  void sleepLastsAtLeastTheTimeAsked_data() {
    QTest::addColumn<uint32_t>("ms");
    QTest::newRow("0 ms") << 0u;
    QTest::newRow("1 ms") << 1u;
    QTest::newRow("25 ms") << 25u;
    QTest::newRow("seconds and milliseconds") << 1010u;
  }

  void sleepLastsAtLeastTheTimeAsked() {
    QFETCH(uint32_t, ms);
    QElapsedTimer clock;
    clock.start();
    p.sleep(ms);
    qint64 slept = clock.nsecsElapsed();
    QVERIFY(slept >= qint64(ms) * 1'000'000);
    QVERIFY(slept < qint64(ms) * 1'000'000 + 200'000'000);
  }
};

QTEST_GUILESS_MAIN(LinuxProcessTest)
#include "tst_linuxprocess.moc"

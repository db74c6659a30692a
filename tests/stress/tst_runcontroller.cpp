#include "sensors/Publisher.h"

#include "platform/fake/InstantThreadsFake.h"
#include "stress/EngineContract.h"
#include "stress/RunController.h"
#include "stress/RunReport.h"
#include "stress/ThreadStress.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QtTest>

namespace {
const uint64_t MS = 10000; // 100-ns units in a millisecond

// Frequency samples end at once; workers never run. One memory controller's
// error counters are watched.
class RunFake : public InstantThreadsFake {
public:
  RunFake() : InstantThreadsFake(ThreadStress) {
    errorCounters = {{"EDAC mc0", 0, 0}};
  }
};

// The workers running, one bit each.
int runningMask(FakePlatform &fake) {
  int mask = 0;
  for (size_t i = 0; i < m_SystemInfo.hThread.size(); ++i)
    if (const FakePlatform::Thread *t = fake.thread(m_SystemInfo.hThread[i]);
        !t->paused && !t->suspended)
      mask |= 1 << i;
  return mask;
}

using Changes = QVector<QPair<int, int>>; // test second, running mask

enum class End {
  Timed,
  LateError,
  UserStop,
  Worker,
  HardwareError,
  LastMomentError,
  HotSensor
};
} // namespace

Q_DECLARE_METATYPE(End)

// The controller alone, in a program with no widgets: how each way a run
// can end is judged, and that the end of a run is always announced.
class RunControllerTest : public QObject {
  Q_OBJECT

  // One supervision tick after `ms` in which the running workers got
  // `percent`.
  static void tick(RunFake &fake, RunController &run, uint64_t ms,
                   int percent) {
    // The first tick waits 500 ms of its own.
    const uint64_t wall = ms + (run.TestTime == QTime(0, 0) ? 500 : 0);
    fake.advance(ms);
    for (ThreadHandle h : m_SystemInfo.hThread)
      if (FakePlatform::Thread *t = fake.thread(h); t && !t->paused)
        t->userTime += wall * MS * uint64_t(percent) / 100;
    QTimerEvent event(run.TestTimer);
    run.timerEvent(&event);
  }

  // Two cores of two threads each.
  static void fourProcessors(RunFake &fake) {
    fake.processMask = fake.systemMask = 0xF;
    m_SystemInfo.LogicalCount = m_SystemInfo.OnlineCount = 4;
    m_SystemInfo.Processor = {0, 1, 2, 3};
    m_SystemInfo.Apic = {
        {0, 0, 0, 0}, {1, 0, 0, 1}, {2, 0, 1, 0}, {3, 0, 1, 1}};
  }

private slots:
  void init() {
    m_SystemInfo = SystemInfo{};
    m_SystemInfo.LogicalCount = m_SystemInfo.OnlineCount = 2;
    m_SystemInfo.Processor = {0, 1};
  }
  void cleanup() {
    setStopFlagLowByte(&bStopTest, 1);
    for (const QString &file :
         {RunJournal::fileName(), QString("Monitoring.txt")})
      QFile::remove(file);
  }

  void verdicts_data() {
    QTest::addColumn<End>("end");
    QTest::addColumn<int>("detail"); // usage, worker code or temperature
    QTest::addColumn<QVector<RunVerdict>>("verdicts");
    using V = QVector<RunVerdict>;
    QTest::newRow("timed end, full usage")
        << End::Timed << 100 << V{RunVerdict::Stable};
    QTest::newRow("timed end, poor usage")
        << End::Timed << 80 << V{RunVerdict::Usage};
    QTest::newRow("calculation error returned after a stable verdict")
        << End::LateError << 2 << V{RunVerdict::Stable, RunVerdict::Unstable};
    QTest::newRow("user stop before an hour")
        << End::UserStop << 100 << V{RunVerdict::Stopped};
    QTest::newRow("calculation error")
        << End::Worker << 3 << V{RunVerdict::Unstable};
    QTest::newRow("allocation error")
        << End::Worker << 5 << V{RunVerdict::Failed};
    QTest::newRow("worker stopped, nothing to report")
        << End::Worker << 0 << V{RunVerdict::Stopped};
    QTest::newRow("hardware error counter rose")
        << End::HardwareError << 0 << V{RunVerdict::Unstable};
    QTest::newRow("hardware error counter rose as the run ended")
        << End::LastMomentError << 0 << V{RunVerdict::Unstable};
    QTest::newRow("temperature limit")
        << End::HotSensor << 60 << V{RunVerdict::Temperature};
    QTest::newRow("temperature below the limit, then a timed end")
        << End::HotSensor << 40 << V{RunVerdict::Stable};
  }
  void verdicts() {
    QFETCH(End, end);
    QFETCH(int, detail);
    QFETCH(QVector<RunVerdict>, verdicts);
    RunFake fake;
    Platform *previous = setPlatform(&fake);
    RunController run;
    run.SetDuration(3600);
    if (end == End::HotSensor) {
      fake.publish("SFSharedMemory_ALM", speedFanBytes({detail * 100}, {}));
      run.SetSensors({SOURCE_SPEEDFAN, 0, 0, false}, 50);
    }
    QVector<RunVerdict> ended;
    int closed = 0;
    connect(&run, &RunController::runEnded, [&](RunVerdict v) { ended << v; });
    connect(&run, &RunController::runClosed, [&] { ++closed; });
    // The desktop notice of the end must say what the verdict says.
    bool failureNotice = false;
    connect(
        &run, &RunController::endNotice,
        [&](const QStringList &, bool failure) { failureNotice = failure; });

    run.Start();
    QVERIFY(run.Running());
    tick(fake, run, 10000, 100);
    switch (end) {
    case End::UserStop:
      run.StopByUser();
      break;
    case End::Worker:
      fake.thread(m_SystemInfo.hThread[1])->exitCode = uint32_t(detail);
      tick(fake, run, 1000, 100);
      break;
    case End::HardwareError:
      fake.errorCounters = {{"EDAC mc0", 1, 0}};
      tick(fake, run, 1000, 100);
      break;
    case End::LastMomentError:
      // After the tick's own check, before the end's summary.
      fake.errorCounters = {{"EDAC mc0", 1, 0}};
      run.ScheduledEnd();
      break;
    case End::HotSensor: {
      QTimerEvent event(run.SensorTimer);
      run.timerEvent(&event);
      if (detail < 50)
        while (run.Running())
          tick(fake, run, 60000, 100);
      break;
    }
    case End::Timed:
      // Ticks short enough not to be taken for the machine asleep.
      while (run.Running())
        tick(fake, run, 8000, detail);
      break;
    case End::LateError:
      while (run.Running())
        tick(fake, run, 8000, 100);
      fake.thread(m_SystemInfo.hThread[1])->exitCode = uint32_t(detail);
      break;
    }
    QVERIFY(!run.Running());
    QCOMPARE(ended, verdicts.mid(0, 1));
    QCOMPARE(failureNotice, verdicts.first() == RunVerdict::Unstable ||
                                verdicts.first() == RunVerdict::Temperature ||
                                verdicts.first() == RunVerdict::Failed);
    QCOMPARE(closed, 0);
    tick(fake, run, 1000, 100);
    QCOMPARE(ended, verdicts);
    QCOMPARE(run.Verdict(), verdicts.last());
    QCOMPARE(closed, 1);
    setPlatform(previous);
  }

  // Which processors run when, in each mode, on two cores of two threads;
  // idle processors and pauses never count against the usage.
  void modeSchedules_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("everyThread");
    QTest::addColumn<Changes>("changes");
    QTest::addColumn<QStringList>("coreLines");
    QTest::newRow("all processors")
        << 0 << false << Changes{{0, 0xF}} << QStringList{};
    QTest::newRow("one core at a time, one worker")
        << 1 << false << Changes{{0, 0x1}, {60, 0x4}, {120, 0x1}}
        << QStringList{"Cœur 0 (processeurs logiques 0, 1) : 4500.0 MHz.",
                       "Cœur 1 (processeurs logiques 2, 3).",
                       "Cœur 0 (processeurs logiques 0, 1) : 4500.0 MHz.",
                       "Erreur sur le cœur 0 (processeurs logiques 0, 1)."};
    QTest::newRow("one core at a time, every thread")
        << 1 << true << Changes{{0, 0x3}, {60, 0xC}, {120, 0x3}}
        << QStringList{"Cœur 0 (processeurs logiques 0, 1) : 4500.0 MHz.",
                       "Cœur 1 (processeurs logiques 2, 3).",
                       "Cœur 0 (processeurs logiques 0, 1) : 4500.0 MHz.",
                       "Erreur sur le cœur 0 (processeurs logiques 0, 1)."};
    QTest::newRow("alternating load")
        << 2 << false
        << Changes{{0, 0xF}, {4, 0}, {6, 0xF}, {8, 0}, {11, 0xF}, {17, 0}}
        << QStringList{};
  }
  void modeSchedules() {
    QFETCH(int, kind);
    QFETCH(bool, everyThread);
    QFETCH(Changes, changes);
    QFETCH(QStringList, coreLines);
    RunFake fake;
    fourProcessors(fake);
    fake.processorClocksKHz = {{0, 4500000}};
    Platform *previous = setPlatform(&fake);
    RunController run;
    run.SetMode({TestModeKind(kind), 1, everyThread});
    QStringList log;
    connect(&run, &RunController::logLine,
            [&](const QString &line) { log << line; });

    run.Start();
    Changes seen{{0, runningMask(fake)}};
    while (run.CurrentTestTime() < QTime(0, 2, 10)) {
      tick(fake, run, 1000, 100);
      if (runningMask(fake) != seen.last().second)
        seen.append(
            {QTime(0, 0).secsTo(run.CurrentTestTime()), runningMask(fake)});
    }
    QCOMPARE(seen.mid(0, changes.size()), changes);
    if (coreLines.isEmpty()) {
      run.StopByUser();
      QVERIFY(log.contains("Utilisation CPU : 100.0 %"));
    } else {
      fake.thread(m_SystemInfo.hThread[0])->exitCode = 3;
      tick(fake, run, 1000, 100);
      QVERIFY(log.contains("Utilisation CPU : 100.0 %"));
      QCOMPARE(log.filter("œur"), coreLines);
    }
    QCOMPARE(runningMask(fake), 0xF);
    setPlatform(previous);
  }

  // Worker 1 cannot start, so worker 2 takes its processor: the core
  // schedule, the core of an error, the clock under load and the report
  // follow the processor each worker got, not its number.
  void perCoreFollowsTheProcessorEachWorkerGot() {
    RunFake fake;
    fourProcessors(fake);
    fake.processorClocksKHz = {
        {0, 4500000}, {1, 4400000}, {2, 800000}, {3, 800000}};
    fake.failCall(FakePlatform::Op::SetThreadAffinityMask, 1);
    Platform *previous = setPlatform(&fake);
    RunController run;
    run.SetMode({TestModeKind::PerCore, 1, true});
    QStringList log;
    connect(&run, &RunController::logLine,
            [&](const QString &line) { log << line; });

    run.Start();
    for (int second = 0; second < 30; ++second)
      tick(fake, run, 1000, 100);
    QCOMPARE(runningMask(fake), 0x5);
    QCOMPARE(describeWorker(m_SystemInfo, 1).logicalProcessor, -1);
    QCOMPARE(describeWorker(m_SystemInfo, 2).logicalProcessor, 1);
    fake.thread(m_SystemInfo.hThread[2])->exitCode = 3;
    tick(fake, run, 1000, 100);
    QVERIFY(log.contains("Erreur sur le cœur 0 (processeurs logiques 0, 1)."));
    QVERIFY(log.contains("Fréquence : 4450.0 MHz (4400.0 à 4500.0)"));
    setPlatform(previous);
  }
};

QTEST_GUILESS_MAIN(RunControllerTest)
#include "tst_runcontroller.moc"

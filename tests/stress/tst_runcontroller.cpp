#include "sensors/Publisher.h"

#include "app/HeadlessRun.h"
#include "platform/fake/InstantThreadsFake.h"
#include "stress/EngineContract.h"
#include "stress/FailureDetail.h"
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
  RunFake() { errorCounters = {{"EDAC mc0", 0, 0}}; }
};

// The workers running, one bit each.
int runningMask(FakePlatform &fake, const RunController &run) {
  int mask = 0;
  const std::vector<ThreadHandle> &workers = run.State().hThread;
  for (size_t i = 0; i < workers.size(); ++i)
    if (const FakePlatform::Thread *t = fake.thread(workers[i]);
        !t->paused && !t->suspended)
      mask |= 1 << i;
  return mask;
}

using Changes = QVector<QPair<int, int>>; // test second, running mask

// A worker's fused digest of renewal 0, published before tick `tick`, and
// what it answers when asked to recompute it (nothing: no answer).
struct Publication {
  int tick, worker;
  uint64_t digest;
  QVector<uint64_t> rechecks;
};
using Publications = QVector<Publication>;

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
Q_DECLARE_METATYPE(Publications)

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
    for (ThreadHandle h : run.State().hThread)
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
    connect(&run, &RunController::endNotice,
            [&](const RunResult &result) { failureNotice = result.failure; });

    run.Start(m_SystemInfo, 0);
    QVERIFY(run.Running());
    tick(fake, run, 10000, 100);
    switch (end) {
    case End::UserStop:
      run.StopByUser();
      break;
    case End::Worker:
      fake.thread(run.State().hThread[1])->exitCode = uint32_t(detail);
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
      fake.thread(run.State().hThread[1])->exitCode = uint32_t(detail);
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

  // The report is made from the run's result and the log's end lines from
  // the same figures, however the run ends; a temperature stop may come
  // before the first supervision tick.
  void reportAgreesWithTheLog_data() {
    QTest::addColumn<int>("celsius"); // the limit is 50 °C
    QTest::addColumn<uint>("code");   // worker 1's end, STILL_ACTIVE: none
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("usage");
    QTest::newRow("temperature stop at once")
        << 60 << uint(STILL_ACTIVE) << 0 << 100;
    QTest::newRow("calculation error") << 45 << 3u << 0 << 100;
    QTest::newRow("crashed worker") << 45 << 139u << 11 << 100;
    QTest::newRow("poor usage") << 45 << uint(STILL_ACTIVE) << 0 << 80;
  }
  void reportAgreesWithTheLog() {
    QFETCH(int, celsius);
    QFETCH(uint, code);
    QFETCH(int, signal);
    QFETCH(int, usage);
    FailureRecord failure;
    if (code == 3) {
      failure.check = FAILURE_EXACT;
      failure.path = WORKER_PATH_AVX2_FMA;
      failure.kind = 0;
      failure.renewal = 2;
    }
    RunFake fake;
    Platform *previous = setPlatform(&fake);
    RunController run;
    run.SetDuration(60);
    run.SetSensors({SOURCE_SPEEDFAN, 0, 0, false}, 50);
    QStringList log;
    connect(&run, &RunController::logLine,
            [&](const QString &line) { log << line; });
    int results = 0;
    connect(&run, &RunController::resultReady, [&] { ++results; });

    fake.publish("SFSharedMemory_ALM", speedFanBytes({celsius * 100}, {}));
    run.Start(m_SystemInfo, 0);
    uint64_t aes = 1 << 20;
    fake.thread(run.State().hThread[1])->counters.verifiedWork[WORKLOAD_AES] =
        aes;
    run.TickSensors();
    for (int second = 0; run.Running(); ++second) {
      if (second == 3 && code != STILL_ACTIVE) {
        fake.thread(run.State().hThread[1])->exitCode = code;
        fake.thread(run.State().hThread[1])->signal = signal;
        fake.thread(run.State().hThread[1])->page.failure = failure;
      }
      aes = uint64_t(second + 2) << 20;
      fake.thread(run.State().hThread[1])->counters.verifiedWork[WORKLOAD_AES] =
          aes;
      fake.publish("SFSharedMemory_ALM",
                   speedFanBytes({(celsius + second % 3) * 100}, {}));
      run.TickSensors();
      if (run.Running())
        tick(fake, run, 8000, usage);
    }
    // A unit finished after the stop counts too.
    aes += 1 << 20;
    fake.thread(run.State().hThread[1])->counters.verifiedWork[WORKLOAD_AES] =
        aes;
    tick(fake, run, 1000, 100);
    QCOMPARE(results, 1);

    RunReport report;
    reportResult(run.Result(), m_SystemInfo, run.Sensors(), &report);
    QCOMPARE(int(report.sensors.size()), 1);
    const RunReport::Sensor &t = report.sensors[0];
    QVERIFY(log.contains(QString::asprintf("T° CPU : %.1f °C (%.1f à %.1f)",
                                           t.mean, t.minimum, t.maximum)));
    QVERIFY(log.contains(QTime(0, 0)
                             .addMSecs(int(report.run.actualSeconds * 1000))
                             .toString("'Durée du test' : hh:mm:ss")));
    QCOMPARE(int(report.workers.size()), 2);
    const RunReport::Worker &second = report.workers[1];
    QCOMPARE(second.signal, signal);
    QCOMPARE(second.resultCode,
             signal || code == STILL_ACTIVE ? -1 : int(code));
    QCOMPARE(second.failure.check, failure.check);
    if (failure.check != FAILURE_NONE)
      QVERIFY(log.contains(failureDetailLine(failure)));
    QCOMPARE(int(second.work.size()), 1);
    QCOMPARE(second.work[0].amount, double(aes));
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

    run.Start(m_SystemInfo, 0);
    Changes seen{{0, runningMask(fake, run)}};
    while (run.CurrentTestTime() < QTime(0, 2, 10)) {
      tick(fake, run, 1000, 100);
      if (runningMask(fake, run) != seen.last().second)
        seen.append({QTime(0, 0).secsTo(run.CurrentTestTime()),
                     runningMask(fake, run)});
    }
    QCOMPARE(seen.mid(0, changes.size()), changes);
    if (coreLines.isEmpty()) {
      run.StopByUser();
      QVERIFY(log.contains("Utilisation CPU : 100.0 %"));
    } else {
      fake.thread(run.State().hThread[0])->exitCode = 3;
      tick(fake, run, 1000, 100);
      QVERIFY(log.contains("Utilisation CPU : 100.0 %"));
      QCOMPARE(log.filter("œur"), coreLines);
    }
    QCOMPARE(runningMask(fake, run), 0xF);
    setPlatform(previous);
  }

  // Every worker computes the same references; one that differs is named
  // as its digest arrives, whatever the pace of the mode, and the named
  // workers' recomputations tell a steady answer from a changing one.
  void processorsAreComparedWithEachOther_data() {
    QTest::addColumn<int>("processors");
    QTest::addColumn<int>("kind");
    QTest::addColumn<Publications>("publications");
    QTest::addColumn<QStringList>("lines");
    const uint64_t A = 0xA, B = 0xB;
    const QString detail = "Détail : références AVX2+FMA du processeur %1, "
                           "renouvellement 0 : attendu 0x%2, obtenu 0x%3 "
                           "(bits 0x%4), erreur %5, après 00:00:02.";
    auto word = [](uint64_t w) {
      return QString("%1").arg(w, 16, 16, QChar('0')).toUpper();
    };
    QTest::newRow("four workers, one against the majority")
        << 4 << 0
        << Publications{{0, 0, A, {}},
                        {0, 1, A, {}},
                        {1, 3, B, {B, B, B}},
                        {1, 2, A, {}}}
        << QStringList{"Le processeur 3 ne calcule pas comme les autres "
                       "(renouvellement 0, calcul AVX2+FMA).",
                       detail.arg(3).arg(word(A), word(B), word(A ^ B),
                                         "reproductible (3 sur 3)")};
    QTest::newRow("two workers differ, one changes its answer")
        << 2 << 0 << Publications{{0, 0, A, {A, A, A}}, {0, 1, B, {B, A, B}}}
        << QStringList{"Les processeurs 0 et 1 ne calculent pas pareil "
                       "(renouvellement 0, calcul AVX2+FMA).",
                       "Le processeur 1 change de réponse en recalculant "
                       "(1 sur 3).",
                       detail.arg(0).arg(word(B), word(A), word(A ^ B),
                                         "reproductible (3 sur 3)"),
                       detail.arg(1).arg(word(A), word(B), word(A ^ B),
                                         "intermittente (2 sur 3)")};
    QTest::newRow("per core, the other core differs a minute later")
        << 4 << 1 << Publications{{0, 0, A, {A, A, A}}, {70, 2, B, {B, B, B}}}
        << QStringList{"Les processeurs 0 et 2 ne calculent pas pareil "
                       "(renouvellement 0, calcul AVX2+FMA).",
                       "Aucun ne change de réponse en recalculant (3 fois "
                       "chacun).",
                       detail.arg(0).arg(word(B), word(A), word(A ^ B),
                                         "reproductible (3 sur 3)"),
                       detail.arg(2).arg(word(A), word(B), word(A ^ B),
                                         "reproductible (3 sur 3)")};
    QTest::newRow("four workers agree") << 4 << 0
                                        << Publications{{0, 0, A, {}},
                                                        {0, 1, A, {}},
                                                        {1, 3, A, {}},
                                                        {1, 2, A, {}}}
                                        << QStringList{};
  }
  void processorsAreComparedWithEachOther() {
    QFETCH(int, processors);
    QFETCH(int, kind);
    QFETCH(Publications, publications);
    QFETCH(QStringList, lines);
    RunFake fake;
    if (processors == 4)
      fourProcessors(fake);
    Platform *previous = setPlatform(&fake);
    RunController run;
    run.SetMode({TestModeKind(kind), 1, false});
    QStringList log;
    connect(&run, &RunController::logLine,
            [&](const QString &line) { log << line; });

    run.Start(m_SystemInfo, 0);
    const int lastTick = publications.last().tick;
    for (int tickIndex = 0; tickIndex <= lastTick; ++tickIndex) {
      QVERIFY(run.Running());
      for (const Publication &p : publications) {
        if (p.tick != tickIndex)
          continue;
        WorkerPage &page =
            fake.thread(run.State().hThread[size_t(p.worker)])->page;
        RenewalDigest d;
        d.digest[DIGEST_SEPARATE] = 0x5;
        d.digest[DIGEST_FUSED] = p.digest;
        d.path[DIGEST_SEPARATE] = WORKER_PATH_SSE2;
        d.path[DIGEST_FUSED] = WORKER_PATH_AVX2_FMA;
        d.elapsedNs = 2'500'000'000;
        publishDigest(&page, 0, d);
        for (int t = 0; t < p.rechecks.size(); ++t)
          page.recheckDigest[t][DIGEST_FUSED] = p.rechecks[t];
        page.recheckAnswer = p.rechecks.isEmpty() ? 0 : 1;
      }
      tick(fake, run, 1000, 100);
    }
    QCOMPARE(log.filter(QRegularExpression("calcul|Détail|réponse")), lines);
    QCOMPARE(run.Running(), lines.isEmpty());
    if (!lines.isEmpty())
      QCOMPARE(run.Verdict(), RunVerdict::Unstable);
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

    run.Start(m_SystemInfo, 0);
    for (int second = 0; second < 30; ++second)
      tick(fake, run, 1000, 100);
    QCOMPARE(runningMask(fake, run), 0x5);
    const std::vector<int> &entries = run.State().WorkerEntry;
    QCOMPARE(describeWorker(m_SystemInfo, entries[1]).logicalProcessor, -1);
    QCOMPARE(describeWorker(m_SystemInfo, entries[2]).logicalProcessor, 1);
    fake.thread(run.State().hThread[2])->exitCode = 3;
    tick(fake, run, 1000, 100);
    QVERIFY(log.contains("Erreur sur le cœur 0 (processeurs logiques 0, 1)."));
    QVERIFY(log.contains("Fréquence : 4450.0 MHz (4400.0 à 4500.0)"));
    setPlatform(previous);
  }
};

QTEST_GUILESS_MAIN(RunControllerTest)
#include "tst_runcontroller.moc"

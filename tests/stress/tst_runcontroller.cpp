#include "sensors/Publisher.h"

#include "app/HeadlessRun.h"
#include "platform/EngineContract.h"
#include "platform/fake/InstantThreadsFake.h"
#include "platform/fake/RecordedProcessor.h"
#include "stress/FailureDetail.h"
#include "stress/RunController.h"
#include "stress/RunReport.h"
#include "stress/ThreadStress.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QtTest>

#include <cstring>

#include <numeric>

namespace {
const uint64_t MS = 10000; // 100-ns units in a millisecond

// Frequency samples end at once; workers never run. One memory controller's
// error counters are watched. It is the platform while it lives, so that a
// failed check leaves no stale platform to the next test.
class RunFake : public InstantThreadsFake {
public:
  RunFake() : previous(setPlatform(this)) {
    errorCounters = {{"EDAC mc0", 0, 0}};
  }
  ~RunFake() override { setPlatform(previous); }

private:
  Platform *previous;
};

using Changes = QVector<QPair<int, int>>; // test second, running mask

// A worker's fused digest of renewal 0, published before tick `tick`, and
// what it answers when asked to recompute it (nothing: no answer).
struct Publication {
  int tick, worker;
  uint64_t digest;
  QVector<uint64_t> rechecks;
};
using Publications = QVector<Publication>;

using Verdicts = QVector<RunVerdict>;

// How a run ended for the window: its verdicts in order, the log's colour
// and tool tip, and what the window is asked to add (see runs()).
struct Outcome {
  Verdicts verdicts;
  QString colour, tip, ends;
};

// The controller on the fake machine, and what it tells the window.
struct Run {
  RunFake fake;
  RunController run;
  QStringList log;        // every line logged
  QVector<double> clocks; // each tick's clock under load
  QString frequency;      // the clock under load shown

  Run() {
    QObject::connect(&run, &RunController::logLine,
                     [this](const QString &line) { log << line; });
    QObject::connect(&run, &RunController::tick,
                     [this](const RunTick &t) { clocks << t.clockMHz; });
    QObject::connect(&run, &RunController::frequency,
                     [this](const QString &text) { frequency = text; });
  }

  FakePlatform::Thread *worker(int i) {
    return fake.thread(run.State().hThread[size_t(i)]);
  }

  // The workers running, one bit each.
  int runningMask() {
    int mask = 0;
    for (size_t i = 0; i < run.State().hThread.size(); ++i)
      if (const FakePlatform::Thread *t = worker(int(i));
          !t->paused && !t->suspended)
        mask |= 1 << i;
    return mask;
  }

  // Two cores of two threads each.
  void fourProcessors() {
    play("workers 4");
    m_SystemInfo.Apic = {
        {0, 0, 0, 0}, {1, 0, 0, 1}, {2, 0, 1, 0}, {3, 0, 1, 1}};
  }

  // One supervision tick after `ms` in which the running workers got
  // `percent`.
  void tick(uint64_t ms, double percent = 100) {
    // The first tick waits 500 ms of its own.
    const uint64_t wall = ms + (run.CurrentTestTime() == QTime(0, 0) ? 500 : 0);
    fake.advance(ms);
    for (ThreadHandle h : run.State().hThread)
      if (FakePlatform::Thread *t = fake.thread(h);
          t && !t->paused && !t->suspended)
        t->userTime += uint64_t(double(wall * MS) * percent / 100);
    run.Tick();
  }

  // Plays a run's script: steps separated by ';', each a word and its
  // numbers, a percentage last being the workers' usage (100 if not given).
  //   workers N, duration S, mode K (TestModeKind), nocounter, fail OP K (call
  //   K from now of FakePlatform::Op OP fails), hot C (a sensor at C °C
  //   and 1.30 V, limit 50 °C): before start; start, stop (the user's), close
  //   (the program's); to S [MS [PCT]]: ticks of MS (at most 8000) until S s of
  //   test time; tick MS [PCT]; ticks N MS [PCT]; end [PCT]: ticks of 8 s until
  //   the run ends; sleep MS USER: a tick after MS in which each worker got
  //   USER ms; exit W CODE [SIGNAL]; flops W GFLOP PATH; sensor C (a sensor
  //   tick); errors C U (the counters rose); errors-at-end: they rise after the
  //   last tick's own check, as the end's summary begins.
  void play(const QString &script) {
    for (const QString &step : script.split(';')) {
      const QStringList w = step.simplified().split(' ');
      const auto n = [&](int i, double fallback = 0) {
        return i < w.size() ? w[i].toDouble() : fallback;
      };
      const QString &verb = w[0];
      if (verb == "workers") {
        const int count = int(n(1));
        fake.processMask = fake.systemMask = (uint64_t(1) << count) - 1;
        m_SystemInfo.LogicalCount = m_SystemInfo.OnlineCount = uint8_t(count);
        m_SystemInfo.Processor.resize(size_t(count));
        std::iota(m_SystemInfo.Processor.begin(), m_SystemInfo.Processor.end(),
                  0);
      } else if (verb == "duration") {
        run.SetDuration(int(n(1)));
      } else if (verb == "mode") {
        run.SetMode({TestModeKind(int(n(1))), 1, false});
      } else if (verb == "nocounter") {
        fake.errorCounters.clear();
      } else if (verb == "fail") {
        // In the order of FakePlatform::Op.
        const auto op = FakePlatform::Op(QStringList{
            "CreateThread", "SetThreadAffinityMask", "SetThreadPriority",
            "SetThreadPriorityBoost", "ResumeThread", "WaitForThread",
            "GetExitCodeThread", "GetThreadUserTime"}
                                             .indexOf(w[1]));
        fake.failCall(op, fake.callCount(op) + int(n(2)));
      } else if (verb == "hot" || verb == "sensor") {
        fake.publish("SFSharedMemory_ALM",
                     speedFanBytes({int(n(1)) * 100}, {130}));
        if (verb == "hot")
          run.SetSensors({SOURCE_SPEEDFAN, 0, 0, false}, 50);
        else
          run.TickSensors();
      } else if (verb == "start") {
        run.Start(m_SystemInfo, 0);
      } else if (verb == "to") {
        const QTime target = QTime(0, 0).addSecs(int(n(1)));
        while (run.Running() && run.CurrentTestTime() < target) {
          int64_t left = run.CurrentTestTime().msecsTo(target);
          if (run.CurrentTestTime() == QTime(0, 0))
            left = std::max<int64_t>(left - 500, 0);
          tick(n(2) ? uint64_t(n(2)) : uint64_t(std::min<int64_t>(8000, left)),
               n(3, 100));
        }
      } else if (verb == "tick") {
        tick(uint64_t(n(1)), n(2, 100));
      } else if (verb == "ticks") {
        for (int i = 0; i < int(n(1)); ++i)
          tick(uint64_t(n(2)), n(3, 100));
      } else if (verb == "end") {
        while (run.Running())
          tick(8000, n(1, 100));
      } else if (verb == "sleep") {
        fake.advance(uint64_t(n(1)));
        for (ThreadHandle h : run.State().hThread)
          fake.thread(h)->userTime += uint64_t(n(2)) * MS;
        run.Tick();
      } else if (verb == "exit") {
        worker(int(n(1)))->exitCode = uint32_t(n(2));
        worker(int(n(1)))->signal = int(n(3));
      } else if (verb == "flops") {
        worker(int(n(1)))->counters.verifiedFlops[int(n(3))] +=
            uint64_t(n(2) * 1e9);
      } else if (verb == "errors") {
        fake.errorCounters = {
            {"EDAC mc0", uint64_t(5 + n(1)), uint64_t(1 + n(2))}};
      } else if (verb == "errors-at-end") {
        QObject::connect(&run, &RunController::logLine,
                         [this](const QString &line) {
                           if (line.startsWith("Fréquence"))
                             fake.errorCounters = {{"EDAC mc0", 6, 1}};
                         });
      } else if (verb == "stop") {
        run.StopByUser();
      } else {
        QCOMPARE(verb, QString("close"));
        run.Close();
      }
    }
  }
};
} // namespace

Q_DECLARE_METATYPE(Verdicts)
Q_DECLARE_METATYPE(Publications)
Q_DECLARE_METATYPE(Outcome)

// The controller alone, in a program with no widgets: how each way a run
// can end is judged, and that the end of a run is always announced.
class RunControllerTest : public QObject {
  Q_OBJECT

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

  // How each way a run can end is judged and told: its log (seed and clock
  // lines left out, and a verified-arithmetic line of nothing), its
  // verdicts, colour and tool tip, and what the window is asked to add, in
  // order: a desktop notice ("notice", or "alarm" for a failure), the window
  // brought back ("restore"), the verdict sound ("ok", "ko") and the shutdown
  // rule of a run that ended on its own ("unattended"). The end of a run is
  // always announced: the workers get their second, then the run is closed
  // and every worker handle with it.
  void runs_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<Outcome>("outcome");
    const QString stopped = "Test stoppé par l'utilisateur.";
    const QString stable = "Votre PC est stable !";
    const QString unstable = "Votre PC n'est pas stable !";
    const QString system = "Votre système a provoqué une erreur !";
    const QString tooLow = "Celle-ci doit être supérieur à 90% !";
    const QString tooShort = "Le test doit durer 1h minimum !";
    const QString timed = "Fin programmée du test.";
    const QString error1 = "Le processeur 1 a généré une erreur de calcul.";
    const QString idle = "Vorsk 1.0.4", failed = "Echec du test !",
                  unstableTip = "PC instable !", finished = "Test terminé.";
    // The lines of a run's end after `time` of test time at `usage` per
    // cent, then `tail`.
    const auto at = [&](const char *time, const QStringList &tail = {},
                        const char *usage = "100.0") {
      return QStringList{"Fréquence", QString("Durée du test : ") + time,
                         QString("Utilisation CPU : %1 %").arg(usage)} +
             tail;
    };
    const auto hardware = [](int corrected, int uncorrected) {
      return QString("Erreurs matérielles pendant le test (EDAC mc0) : %1 "
                     "corrigée(s), %2 non corrigée(s).")
          .arg(corrected)
          .arg(uncorrected);
    };
    const Verdicts stableV{RunVerdict::Stable}, stoppedV{RunVerdict::Stopped},
        unstableV{RunVerdict::Unstable}, usageV{RunVerdict::Usage};
    const QString alarm = "alarm restore ko unattended";
    const Outcome stableStop{stableV, "#6D2", idle, "ok"},
        stableTimed{stableV, "#6D2", finished, "ok notice restore unattended"},
        shortStop{stoppedV, "#FB2", idle, ""},
        usageStop{usageV, "#FB2", idle, ""},
        unstableEnd{unstableV, "#F43", unstableTip, alarm},
        failedEnd{{RunVerdict::Failed}, "#FB2", failed, alarm},
        lateError{stableV + unstableV, "#F43", unstableTip, "ok alarm ko"};

    QTest::newRow("timed end, full usage")
        << "duration 3600; start; end" << at("01:00:00", {timed, stable})
        << stableTimed;
    QTest::newRow("timed end, poor usage")
        << "duration 3600; start; end 80"
        << at("01:00:00", {tooLow, timed}, "80.0")
        << Outcome{usageV, "#FB2", finished, "notice restore unattended"};
    QTest::newRow("hardware error counter rose as the run ended")
        << "duration 3600; start; errors-at-end; end"
        << at("01:00:00", {hardware(1, 0), timed, unstable})
        << Outcome{unstableV, "#F43", finished, "ko alarm restore unattended"};

    const auto workerEnd =
        [&](const char *name, const char *exit, const QStringList &lines,
            const Outcome &outcome) {
          QTest::newRow(name)
              << QString("start; to 10; exit 1 %1; tick 1000").arg(exit)
              << at("00:00:10", lines) << outcome;
        };
    const Outcome noVerdict{stoppedV, "", "", ""};
    workerEnd("exit 0: stopped, no verdict", "0", {}, noVerdict);
    workerEnd("exit 7: nothing to report", "7", {}, noVerdict);
    workerEnd("exit 3: calculation error", "3", {error1, unstable},
              unstableEnd);
    workerEnd("exit 5: allocation", "5",
              {"Thread 1 : erreur d'allocation mémoire.", system}, failedEnd);
    workerEnd("exit 9: the engine's file", "9",
              {"Thread 1 : erreur d'accès au fichier Burnmod.so.", system},
              failedEnd);
    workerEnd("exit 42: other code", "42",
              {"Le thread 1 a généré une erreur (code 42).", system},
              failedEnd);
    workerEnd("SIGILL: the processor failed", "132 4",
              {"Le processeur 1 s'est arrêté brutalement (SIGILL : "
               "instruction illégale).",
               unstable},
              unstableEnd);
    workerEnd("SIGKILL from outside: no verdict", "137 9",
              {"Le processus de test du processeur 1 a été arrêté de "
               "l'extérieur (SIGKILL)."},
              {stoppedV, "#FB2", failed, alarm});

    // Worker 1 of the second tick.
    QTest::newRow("exit code unreadable")
        << "start; tick 1000; fail GetExitCodeThread 1; tick 1000"
        << at("00:00:02", {"Arrêt du test : GetExitCodeThread failed !"})
        << failedEnd;
    QTest::newRow("times unreadable")
        << "start; tick 1000; fail GetThreadUserTime 1; tick 1000"
        << at("00:00:02", {"Arrêt du test : GetThreadTimes failed !"})
        << failedEnd;

    // A worker that could not start leaves its processor to the next and
    // drags the usage down; one never created stops the run at once.
    for (const char *op : {"SetThreadAffinityMask", "SetThreadPriority",
                           "SetThreadPriorityBoost", "ResumeThread"})
      QTest::newRow(qPrintable(QString("failed %1").arg(op)))
          << QString("fail %1 0; start; tick 1000; stop").arg(op)
          << QStringList{QString("%1 failed.").arg(op)} +
                 at("00:00:01", {tooLow, stopped}, "50.0")
          << usageStop;
    QTest::newRow("failed CreateThread")
        << "fail CreateThread 0; start; tick 1000"
        << QStringList{"CreateThread failed."} +
               at("00:00:00",
                  {tooLow, "Arrêt du test : GetExitCodeThread failed !"}, "0.0")
        << failedEnd;

    QTest::newRow("corrected error seen at a tick ends the run")
        << "start; to 3600; errors 2 0; tick 1000"
        << at("01:00:01", {hardware(2, 0), unstable}) << unstableEnd;
    QTest::newRow("uncorrected error after the last tick, user stop")
        << "start; to 3600; errors 0 1; stop"
        << at("01:00:00", {hardware(0, 1), stopped, unstable})
        << Outcome{unstableV, "#F43", idle, "ko"};
    QTest::newRow("errors counted before the run are not this run's")
        << "start; to 3600; stop" << at("01:00:00", {stopped, stable})
        << stableStop;
    QTest::newRow("no counter: said, the verdict unchanged")
        << "nocounter; start; to 3600; stop"
        << at("01:00:00", {"Erreurs matérielles non surveillées : aucun "
                           "compteur d'erreurs (EDAC, machine-check) "
                           "disponible.",
                           stopped, stable})
        << stableStop;

    const QString flops = "; flops 0 2000 2; flops 1 1970 2; flops 1 30 0";
    const QString verified =
        "Calculs vérifiés : 4.0 Tflop (AVX2+FMA 99 %, SSE2 1 %)";
    QTest::newRow("user stop after 59 minutes")
        << "start; to 3540" + flops + "; stop"
        << at("00:59:00", {verified, stopped, tooShort}) << shortStop;
    QTest::newRow("user stop after 60 minutes")
        << "start; to 3600" + flops + "; stop"
        << at("01:00:00", {verified, stopped, stable}) << stableStop;
    QTest::newRow("stop before any test time")
        << "start; stop" << at("00:00:00", {tooLow, stopped}, "0.0")
        << usageStop;

    const auto usageRow = [&](const char *percent, const char *shown,
                              const QString &fault) {
      QTest::newRow(qPrintable(QString("usage of %1").arg(percent)))
          << QString("start; to 3600 0 %1; stop").arg(percent)
          << at("01:00:00",
                fault.isEmpty() ? QStringList{stopped, stable}
                                : QStringList{fault, stopped},
                shown)
          << (fault.isEmpty() ? stableStop : usageStop);
    };
    usageRow("90", "90.0", {});
    usageRow("100", "100.0", {});
    usageRow("89.99", "90.0", tooLow);
    usageRow("100.01", "100.0", "Pourcentage d'utilisation CPU incorrect !");

    // Ticks whose wall time the worker count does not divide: the test time
    // must still add up, or a fully loaded run reads above 100 per cent.
    for (const char *workers : {"3", "32"})
      QTest::newRow(
          qPrintable(QString("full usage on %1 workers").arg(workers)))
          << QString("workers %1; start; to 3600 7001; stop").arg(workers)
          << at("01:00:06", {stopped, stable}) << stableStop;

    // A minute asleep, one second of processor time in 61 s of wall time:
    // one second of test time.
    QTest::newRow("sleep")
        << "start; to 58; tick 2000 50; sleep 61000 1000; stop"
        << at("00:01:01", {stopped, tooShort}, "98.4") << shortStop;

    // The alternating load pauses the whole run (4 s on, 2 s off, 2 s on,
    // 3 s off...): a pause is test time but neither processor time nor
    // usage, unless the machine slept through it (4.5 s, then 61 s asleep
    // in a pause, then a second of pause and one of load).
    QTest::newRow("alternating: a pause is test time, not usage")
        << "mode 2; start; ticks 60 1000; stop"
        << at("00:01:00", {stopped, tooShort}) << shortStop;
    QTest::newRow("alternating: a pause the machine slept through")
        << "mode 2; start; ticks 4 1000; sleep 61000 0; ticks 2 1000; stop"
        << at("00:00:06", {stopped, tooShort}) << shortStop;

    QTest::newRow("temperature limit")
        << "hot 45; start; to 20; sensor 45; sensor 50"
        << QStringList{"Fréquence",
                       "Vcore : 1.30 V (1.30 à 1.30)",
                       "T° CPU : 47.5 °C (45.0 à 50.0)",
                       "Durée du test : 00:00:20",
                       "Utilisation CPU : 100.0 %",
                       "Arrêt du test : température maximale atteinte !"}
        << Outcome{{RunVerdict::Temperature}, "#FB2", failed, alarm};
    QTest::newRow("temperature below the limit, then a timed end")
        << "duration 3600; hot 40; start; sensor 40; end"
        << QStringList{"Fréquence",
                       "Vcore : 1.30 V (1.30 à 1.30)",
                       "T° CPU : 40.0 °C (40.0 à 40.0)",
                       "Durée du test : 01:00:00",
                       "Utilisation CPU : 100.0 %",
                       timed,
                       stable}
        << stableTimed;

    // A worker may find an error in the unit it was running when the run
    // was stopped and return it after the verdict.
    QTest::newRow("late calculation error after a stable verdict")
        << "start; to 3600; stop; exit 1 2"
        << at("01:00:00", {stopped, stable, error1, unstable}) << lateError;
    QTest::newRow("late calculation error as the program closes")
        << "start; to 3600; stop; exit 1 2; close"
        << at("01:00:00", {stopped, stable, error1, unstable}) << lateError;
    QTest::newRow("late calculation error after a calculation error")
        << "start; to 3600; exit 0 3; tick 1000; exit 1 2"
        << at("01:00:00", {"Le processeur 0 a généré une erreur de calcul.",
                           unstable, error1})
        << unstableEnd;
  }
  void runs() {
    QFETCH(QString, script);
    QFETCH(QStringList, log);
    QFETCH(Outcome, outcome);
    Run r;
    r.fake.errorCounters = {{"EDAC mc0", 5, 1}};
    QString colour, tip;
    connect(&r.run, &RunController::logColour,
            [&](const char *c) { colour = c ? c : ""; });
    connect(&r.run, &RunController::toolTip,
            [&](const QString &text) { tip = text; });
    Verdicts ended;
    int closed = 0;
    QStringList asked;
    connect(&r.run, &RunController::runEnded,
            [&](RunVerdict v) { ended << v; });
    connect(&r.run, &RunController::runClosed, [&] { ++closed; });
    connect(&r.run, &RunController::endNotice, [&](const RunResult &result) {
      asked << (result.failure ? "alarm" : "notice");
    });
    connect(&r.run, &RunController::restoreWindow, [&] { asked << "restore"; });
    connect(&r.run, &RunController::verdictSound,
            [&](bool success) { asked << (success ? "ok" : "ko"); });
    connect(&r.run, &RunController::endedUnattended,
            [&] { asked << "unattended"; });

    r.play(script);
    QVERIFY(!r.run.Running());
    QCOMPARE(closed, 0);
    const std::vector<ThreadHandle> handles = r.fake.handles();
    if (!script.endsWith("close")) {
      QCOMPARE(ended, outcome.verdicts.mid(0, 1));
      r.tick(1000);
      QCOMPARE(closed, 1);
    }
    for (ThreadHandle h : handles)
      QVERIFY(r.fake.thread(h)->closed);
    for (ThreadHandle h : r.run.State().hThread)
      QCOMPARE(h, ThreadHandle(0));
    QCOMPARE(asked.join(' '), outcome.ends);
    QStringList shown;
    for (const QString &line : r.log)
      if (line.startsWith("Fréquence : "))
        shown << "Fréquence";
      else if (!line.startsWith("Graine du test : ") &&
               line != "Calculs vérifiés : 0.0 Gflop")
        shown << line;
    QCOMPARE(shown, log);
    QCOMPARE(ended, outcome.verdicts);
    QCOMPARE(r.run.Verdict(), outcome.verdicts.last());
    QCOMPARE(colour, outcome.colour);
    QCOMPARE(tip, outcome.tip);
  }

  // The report is made from the run's result and the log's end lines from
  // the same figures, however the run ends; a temperature stop may come
  // before the first supervision tick.
  void reportAgreesWithTheLog_data() {
    QTest::addColumn<int>("celsius"); // the limit is 50 °C
    QTest::addColumn<uint>("code");   // worker 1's end, STILL_ACTIVE: none
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("usage");
    QTest::addColumn<QString>("errorLine"); // empty: none
    QTest::newRow("temperature stop at once")
        << 60 << uint(STILL_ACTIVE) << 0 << 100 << QString();
    QTest::newRow("calculation error")
        << 45 << 3u << 0 << 100
        << "Le processeur 1 a généré une erreur de calcul.";
    QTest::newRow("message from the processor before torn")
        << 45 << uint(ENGINE_WORKLOAD_MISMATCH + WORKLOAD_COHERENCE) << 0 << 100
        << "Erreur de calcul du processeur 1 (cohérence avec le processeur "
           "0).";
    QTest::newRow("crashed worker")
        << 45 << 139u << 11 << 100
        << "Le processeur 1 s'est arrêté brutalement (SIGSEGV : accès "
           "mémoire invalide).";
    QTest::newRow("poor usage")
        << 45 << uint(STILL_ACTIVE) << 0 << 80 << QString();
  }
  void reportAgreesWithTheLog() {
    QFETCH(int, celsius);
    QFETCH(uint, code);
    QFETCH(int, signal);
    QFETCH(int, usage);
    QFETCH(QString, errorLine);
    FailureRecord failure;
    if (code == 3) {
      failure.check = FAILURE_EXACT;
      failure.path = WORKER_PATH_AVX2_FMA;
      failure.kind = 0;
      failure.renewal = 2;
    }
    if (failedWorkload(code) == WORKLOAD_COHERENCE) {
      failure.check = FAILURE_WORKLOAD;
      failure.kind = WORKLOAD_COHERENCE;
      failure.partner = 0;
      failure.col = 3;
      std::strcpy(failure.level, "x86-64");
    }
    Run r;
    r.run.SetDuration(60);
    r.run.SetSensors({SOURCE_SPEEDFAN, 0, 0, false}, 50);
    int results = 0;
    connect(&r.run, &RunController::resultReady, [&] { ++results; });
    uint64_t mib = 1; // worker 1's AES work so far
    const auto work = [&] {
      r.worker(1)->counters.verifiedWork[WORKLOAD_AES] = mib << 20;
    };

    r.fake.publish("SFSharedMemory_ALM", speedFanBytes({celsius * 100}, {}));
    r.run.Start(m_SystemInfo, 0);
    work();
    r.run.TickSensors();
    for (int second = 0; r.run.Running(); ++second) {
      if (second == 3 && code != STILL_ACTIVE) {
        r.worker(1)->exitCode = code;
        r.worker(1)->signal = signal;
        r.worker(1)->page.failure = failure;
      }
      mib = uint64_t(second + 2);
      work();
      r.fake.publish("SFSharedMemory_ALM",
                     speedFanBytes({(celsius + second % 3) * 100}, {}));
      r.run.TickSensors();
      if (r.run.Running())
        r.tick(8000, usage);
    }
    // A unit finished after the stop counts too.
    ++mib;
    work();
    r.tick(1000);
    QCOMPARE(results, 1);

    RunReport report;
    reportResult(r.run.Result(), m_SystemInfo, r.run.Sensors(), &report);
    QCOMPARE(int(report.sensors.size()), 1);
    const RunReport::Sensor &t = report.sensors[0];
    QVERIFY(r.log.contains(QString::asprintf("T° CPU : %.1f °C (%.1f à %.1f)",
                                             t.mean, t.minimum, t.maximum)));
    QVERIFY(r.log.contains(QTime(0, 0)
                               .addMSecs(int(report.run.actualSeconds * 1000))
                               .toString("'Durée du test' : hh:mm:ss")));
    QCOMPARE(int(report.workers.size()), 2);
    const RunReport::Worker &second = report.workers[1];
    QCOMPARE(second.signal, signal);
    QCOMPARE(second.resultCode,
             signal || code == STILL_ACTIVE ? -1 : int(code));
    QCOMPARE(second.failure.check, failure.check);
    QCOMPARE(second.failure.partner, failure.partner);
    if (failure.check != FAILURE_NONE)
      QVERIFY(r.log.contains(failureDetailLine(failure)));
    if (!errorLine.isEmpty())
      QVERIFY2(r.log.contains(errorLine), qPrintable(r.log.join('\n')));
    QCOMPARE(int(second.work.size()), 1);
    QCOMPARE(second.work[0].amount, double(mib << 20));
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
    const QStringList perCore{
        "Cœur 0 (processeurs logiques 0, 1) : 4500.0 MHz.",
        "Cœur 1 (processeurs logiques 2, 3).",
        "Cœur 0 (processeurs logiques 0, 1) : 4500.0 MHz.",
        "Erreur sur le cœur 0 (processeurs logiques 0, 1)."};
    QTest::newRow("one core at a time, one worker")
        << 1 << false << Changes{{0, 0x1}, {60, 0x4}, {120, 0x1}} << perCore;
    QTest::newRow("one core at a time, every thread")
        << 1 << true << Changes{{0, 0x3}, {60, 0xC}, {120, 0x3}} << perCore;
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
    Run r;
    r.fourProcessors();
    r.fake.processorClocksKHz = {{0, 4500000}};
    r.run.SetMode({TestModeKind(kind), 1, everyThread});

    r.run.Start(m_SystemInfo, 0);
    Changes seen{{0, r.runningMask()}};
    while (r.run.CurrentTestTime() < QTime(0, 2, 10)) {
      r.tick(1000);
      if (r.runningMask() != seen.last().second)
        seen.append(
            {QTime(0, 0).secsTo(r.run.CurrentTestTime()), r.runningMask()});
    }
    QCOMPARE(seen.mid(0, changes.size()), changes);
    if (coreLines.isEmpty()) {
      r.run.StopByUser();
    } else {
      r.worker(0)->exitCode = 3;
      r.tick(1000);
      QCOMPARE(r.log.filter("œur"), coreLines);
    }
    QVERIFY(r.log.contains("Utilisation CPU : 100.0 %"));
    QCOMPARE(r.runningMask(), 0xF);
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
    Run r;
    if (processors == 4)
      r.fourProcessors();
    r.run.SetMode({TestModeKind(kind), 1, false});

    r.run.Start(m_SystemInfo, 0);
    for (int tick = 0; tick <= publications.last().tick; ++tick) {
      QVERIFY(r.run.Running());
      for (const Publication &p : publications) {
        if (p.tick != tick)
          continue;
        WorkerPage &page = r.worker(p.worker)->page;
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
      r.tick(1000);
    }
    QCOMPARE(r.log.filter(QRegularExpression("calcul|Détail|réponse")), lines);
    QCOMPARE(r.run.Running(), lines.isEmpty());
    if (!lines.isEmpty())
      QCOMPARE(r.run.Verdict(), RunVerdict::Unstable);
  }

  // A run's readings: one taken while no test runs is shown but not
  // counted; the run's are summed up at its end, kept in Monitoring.txt
  // when asked, and forgotten before the next run.
  void sensorsOfARun() {
    Run r;
    r.run.SetSensors({SOURCE_SPEEDFAN, 0, 0, true}, 50);
    QVERIFY(r.run.SensorsReading());
    QStringList shown;
    connect(&r.run, &RunController::sensorText,
            [&](const QString &t, const QString &v) { shown << t + " " + v; });
    const QRegularExpression summary("^T° CPU| : 1\\.");

    r.play("sensor 55; start; sensor 45; sensor 50");
    QVERIFY(!r.run.Running());
    QCOMPARE(shown, (QStringList{"55.0 °C 1.30 V", "45.0 °C 1.30 V",
                                 "50.0 °C 1.30 V"}));
    QCOMPARE(r.log.filter(summary),
             (QStringList{"Vcore : 1.30 V (1.30 à 1.30)",
                          "T° CPU : 47.5 °C (45.0 à 50.0)"}));
    QFile samples("Monitoring.txt");
    QVERIFY(samples.open(QIODevice::ReadOnly));
    QCOMPARE(samples.readAll(),
             QByteArray("1\t45.00\t1.300\n2\t50.00\t1.300\n"));
    r.tick(1000);

    r.log.clear();
    r.play("start; sensor 40; stop");
    QCOMPARE(r.log.filter(summary),
             (QStringList{"Vcore : 1.30 V (1.30 à 1.30)",
                          "T° CPU : 40.0 °C (40.0 à 40.0)"}));
  }

  // One worker per processor the process may run on, bound to it alone,
  // handed the engine's argument, at normal priority without boost, and a
  // line saying how many of the machine's are tested when not all. The
  // journal is on the disk from the first tick, in case the machine freezes.
  void workersTakeTheAllowedProcessors_data() {
    QTest::addColumn<QVector<int>>("processors");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("every processor")
        << QVector<int>{0, 1, 2, 3} << QStringList{};
    QTest::newRow("processors 1 and 3")
        << QVector<int>{1, 3}
        << QStringList{"Test limité à 2 processeurs logiques sur 4 "
                       "(restriction d'affinité)."};
    QTest::newRow("processor 2 alone")
        << QVector<int>{2}
        << QStringList{"Test limité à 1 processeur logique sur 4 "
                       "(restriction d'affinité)."};
  }
  void workersTakeTheAllowedProcessors() {
    QFETCH(QVector<int>, processors);
    QFETCH(QStringList, lines);
    Run r;
    r.play("workers 4");
    m_SystemInfo.LogicalCount = uint8_t(processors.size());
    m_SystemInfo.Processor.assign(processors.begin(), processors.end());

    r.run.Start(m_SystemInfo, 1234);
    QCOMPARE(r.log.mid(1), lines);
    QCOMPARE(int(r.run.State().hThread.size()), processors.size());
    for (int i = 0; i < processors.size(); ++i) {
      const FakePlatform::Thread *t = r.worker(i);
      QCOMPARE(t->affinity, CpuSet::single(processors[i]));
      QVERIFY(t->worker);
      QCOMPARE(t->runTestArgument, 1234);
      QCOMPARE(t->priority, ThreadPriority::Normal);
      QVERIFY(t->boostDisabled);
      QVERIFY(!t->suspended);
    }
    r.tick(1000);
    const QString journal = QString::fromStdString(
        r.fake.diskFiles[RunJournal::fileName().toStdString()]);
    QVERIFY2(journal.contains(QRegularExpression(
                 "^T 00:00:00\nL Graine du test : [0-9A-F]{16}\n"
                 "(L Test limité[^\n]*\n)?T 00:00:01\n$")),
             qPrintable(journal));

    // The report names the processor each worker ran on, not its place in
    // the list of allowed ones.
    r.play("stop");
    RunReport report;
    reportResult(r.run.Result(), m_SystemInfo, r.run.Sensors(), &report);
    QVector<int> named;
    for (const RunReport::Worker &w : report.workers)
      named << w.logicalProcessor;
    QCOMPARE(named, processors);
  }

  // The clock under load: on each tick the mean of the worker processors'
  // kernel clocks, at the end their average and range, a processor without
  // one left out.
  void clockUnderLoadOfEveryProcessor() {
    Run r;
    RecordedProcessorScope recorded(r.fake); // this host's MSRs stay out of it
    r.play("workers 5");
    r.fake.processorClocksKHz = {
        {0, 4370000}, {1, 4410000}, {2, 4410000}, {3, 4450000}};

    r.run.Start(m_SystemInfo, 0);
    r.tick(1000);
    r.fake.processorClocksKHz[0] = 4390000;
    r.tick(1000);
    r.run.StopByUser();
    QCOMPARE(r.clocks, (QVector<double>{4410.0, 4415.0}));
    QVERIFY(r.log.contains("Fréquence : 4412.5 MHz (4380.0 à 4450.0)"));
    QCOMPARE(r.frequency, QString("4412.5 MHz"));
  }

  // Without the kernel's clocks, the load frequency is sampled on the ticks
  // of the first minute only (a test time of exactly one minute included),
  // those ticks carry it, and the stop samples it once more for its line.
  void loadFrequencyInTheFirstMinuteOnly() {
    Run r;
    const auto samples = [&](ThreadProc proc) {
      int n = 0;
      for (ThreadHandle h : r.fake.handles())
        n += r.fake.thread(h)->proc == proc;
      return n;
    };

    r.run.Start(m_SystemInfo, 0);
    r.tick(500);
    QCOMPARE(samples(ThreadBeginFrequency), 1);
    QCOMPARE(samples(ThreadEndFrequency), 0);
    r.play("to 60; tick 1000");
    const int inFirstMinute = samples(ThreadEndFrequency);
    QVERIFY(inFirstMinute >= 8);
    r.play("tick 1000; tick 1000");
    QCOMPARE(samples(ThreadEndFrequency), inFirstMinute);
    QCOMPARE(samples(ThreadBeginFrequency), 1);
    QCOMPARE(int(std::count_if(r.clocks.begin(), r.clocks.end(),
                               [](double c) { return !std::isnan(c); })),
             inFirstMinute);
    r.run.StopByUser();
    QCOMPARE(samples(ThreadEndFrequency), inFirstMinute + 1);
    QCOMPARE(r.log.filter("Fréquence"),
             QStringList{"Fréquence : " + r.frequency});
  }

  // Worker 1 cannot start, so worker 2 takes its processor: the core
  // schedule, the core of an error, the clock under load and the report
  // follow the processor each worker got, not its number.
  void perCoreFollowsTheProcessorEachWorkerGot() {
    Run r;
    r.fourProcessors();
    r.fake.processorClocksKHz = {
        {0, 4500000}, {1, 4400000}, {2, 800000}, {3, 800000}};
    r.fake.failCall(FakePlatform::Op::SetThreadAffinityMask, 1);
    r.run.SetMode({TestModeKind::PerCore, 1, true});

    r.run.Start(m_SystemInfo, 0);
    r.play("ticks 30 1000");
    QCOMPARE(r.runningMask(), 0x5);
    const std::vector<int> &entries = r.run.State().WorkerEntry;
    QCOMPARE(describeWorker(m_SystemInfo, entries[1]).logicalProcessor, -1);
    QCOMPARE(describeWorker(m_SystemInfo, entries[2]).logicalProcessor, 1);
    r.worker(2)->exitCode = 3;
    r.tick(1000);
    QVERIFY(
        r.log.contains("Erreur sur le cœur 0 (processeurs logiques 0, 1)."));
    QVERIFY(r.log.contains("Fréquence : 4450.0 MHz (4400.0 à 4500.0)"));
  }
};

QTEST_GUILESS_MAIN(RunControllerTest)
#include "tst_runcontroller.moc"

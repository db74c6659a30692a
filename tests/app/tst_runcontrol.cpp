#include "sensors/Publisher.h"

#include "app/DesktopNotice.h"
#include "app/Vorsk.h"
#include "platform/fake/InstantThreadsFake.h"
#include "platform/fake/RecordedProcessor.h"
#include "settings/SoundPlayer.h"
#include "stress/EngineContract.h"
#include "stress/ThreadStress.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QFile>
#include <QSettings>
#include <QtTest>

namespace {
const uint64_t MS = 10000; // 100-ns units in a millisecond

void store(const QString &key, const QVariant &value) {
  QSettings settings("Vorsk.ini", QSettings::IniFormat);
  settings.setValue(key, value);
}

QStringList lines(const QString &text) { return text.split('\n'); }

// Frequency samples end at once, as a short sampling thread does; workers
// still never run. The machine's memory controller is watched and has made
// errors before the run.
class RunFake : public InstantThreadsFake {
public:
  RunFake() { errorCounters = {{"EDAC mc0", 5, 1}}; }
};

struct NoticeRecorder {
  NoticeRecorder()
      : previous(setDesktopNotifier(
            [this](const DesktopNotice &n) { notices.push_back(n); })) {}
  ~NoticeRecorder() { setDesktopNotifier(previous); }
  std::vector<DesktopNotice> notices;
  DesktopNotifier previous;
};

const char ProcessorName[] = "Fake Processor @ 3.00GHz";

struct RunFakeScope {
  RunFakeScope() : previous(setPlatform(&fake)) {}
  ~RunFakeScope() { setPlatform(previous); }
  RunFake fake;
  Platform *previous;
};
} // namespace

// Run control and supervision on the fake platform: workers never run, their
// exit codes and user times are set by hand, and time moves only when the
// test or a wait moves it. The frequency line of a stop depends on the
// machine and is checked for its form only.
class RunControlTest : public QObject {
  Q_OBJECT

  static Ui_VorskClass &ui(Vorsk &w) { return w.ui; }
  // The verified-arithmetic line is checked by the user stop only.
  static QStringList log(Vorsk &w) {
    QStringList all = lines(w.ui.textLog->toPlainText());
    for (QString &line : all)
      if (line.startsWith("Fréquence : ") && line.endsWith(" MHz"))
        line = "Fréquence";
    all.removeAll("Calculs vérifiés : 0.0 Gflop");
    all.erase(std::remove_if(all.begin(), all.end(),
                             [](const QString &line) {
                               return line.startsWith("Graine du test : ");
                             }),
              all.end());
    return all;
  }
  static QColor logColour(Vorsk &w) {
    return w.ui.textLog->palette().color(QPalette::Base);
  }
  static QString toolTip(Vorsk &w) { return w.trayIcon->toolTip(); }
  static FakePlatform::Thread *worker(FakePlatform &fake, Vorsk &w, int i) {
    return fake.thread(w.Run.State().hThread[i]);
  }

  static void start(Vorsk &w, int logicalCount = 2) {
    m_SystemInfo.LogicalCount = uint8_t(logicalCount);
    w.ui.pushTest->click();
  }

  // One run-timer tick after `ms` of wall time in which every running worker
  // obtained `percent` of it; the first tick's own 500 ms wait counts too.
  static void tick(FakePlatform &fake, Vorsk &w, uint64_t ms,
                   int percent = 100) {
    const uint64_t wall = ms + (w.Run.TestTime == QTime(0, 0) ? 500 : 0);
    fake.advance(ms);
    for (int i = 0; i < m_SystemInfo.LogicalCount; ++i)
      if (FakePlatform::Thread *t = worker(fake, w, i))
        if (!t->suspended)
          t->userTime += wall * MS * uint64_t(percent) / 100;
    QTimerEvent event(w.Run.TestTimer);
    w.Run.timerEvent(&event);
  }

  // Ticks of at most 8 s at full usage until the test time reaches `target`.
  static void runTo(FakePlatform &fake, Vorsk &w, const QTime &target) {
    while (w.Run.TestTime < target && stopFlagLowByte(&bStopTest) == 0) {
      uint64_t left = uint64_t(w.Run.TestTime.msecsTo(target));
      uint64_t step = std::min<uint64_t>(8000, left);
      if (w.Run.TestTime == QTime(0, 0))
        step = step > 500 ? step - 500 : 0;
      tick(fake, w, step);
    }
  }

private slots:
  void init() {
    setStopFlagLowByte(&bStopTest, 1);
    m_SystemInfo = SystemInfo{};
    QFile::remove("Vorsk.ini");
    QFile::remove("Event.log");
    QFile::remove("Monitoring.txt");
  }
  void cleanup() { init(); }

  void startBindsEveryWorkerToItsOwnProcessor() {
    RunFakeScope scope;
    scope.fake.processMask = scope.fake.systemMask = 0xF;
    Vorsk w;
    start(w, 4);
    QCOMPARE(stopFlagLowByte(&bStopTest), 0);
    QVERIFY(w.Run.TestTimer != 0);
    for (int i = 0; i < 4; ++i) {
      FakePlatform::Thread *t = worker(scope.fake, w, i);
      QVERIFY(t);
      QCOMPARE(t->affinity, CpuSet::single(i));
      QVERIFY(t->worker);
      QCOMPARE(t->runTestArgument, l2KbPerLogical());
      QCOMPARE(t->priority, ThreadPriority::Normal);
      QVERIFY(t->boostDisabled);
      QVERIFY(!t->suspended);
    }
    QVERIFY(!ui(w).pushTest->isEnabled());
    QVERIFY(!ui(w).pushOptions->isEnabled());
    QVERIFY(!ui(w).comboDuration->isEnabled());
    QVERIFY(ui(w).comboPriority->isEnabled());
    QCOMPARE(ui(w).barTest->format(), QString("0 seconde"));
    QCOMPARE(log(w), QStringList{});

    tick(scope.fake, w, 1000);
    QCOMPARE(ui(w).pushTest->text(), QString("Arrêter"));
    QVERIFY(ui(w).pushTest->isEnabled());
    QCOMPARE(ui(w).labelBar->text(), QString("100.0 %"));
    QCOMPARE(w.Run.TestTime, QTime(0, 0, 1, 500));
    QCOMPARE(toolTip(w), QString("1 seconde"));
    // On the disk at every tick, in case the machine freezes.
    QVERIFY(QString::fromStdString(
                scope.fake.diskFiles[RunJournal::fileName().toStdString()])
                .contains(QRegularExpression(
                    "^T 00:00:00\nL Graine du test : [0-9A-F]{16}\n"
                    "T 00:00:01\n$")));
  }

  // One worker per processor the process may run on, each on its own, and
  // a line saying how many of the system's are tested when not all.
  void workersFollowTheAllowedSet_data() {
    QTest::addColumn<quint64>("allowed");
    QTest::addColumn<QVector<int>>("processors");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("every processor")
        << quint64(0xF) << QVector<int>{0, 1, 2, 3} << QStringList{};
    QTest::newRow("processors 1 and 3")
        << quint64(0xA) << QVector<int>{1, 3}
        << QStringList{"Test limité à 2 processeurs logiques sur 4 "
                       "(restriction d'affinité)."};
    QTest::newRow("processor 2 alone")
        << quint64(0x4) << QVector<int>{2}
        << QStringList{"Test limité à 1 processeur logique sur 4 "
                       "(restriction d'affinité)."};
  }
  void workersFollowTheAllowedSet() {
    QFETCH(quint64, allowed);
    QFETCH(QVector<int>, processors);
    RunFakeScope scope;
    scope.fake.processMask = allowed;
    scope.fake.systemMask = 0xF;
    Vorsk w;
    w.ui.pushTest->click();
    QFETCH(QStringList, lines);
    QCOMPARE(log(w), lines);
    QCOMPARE(int(w.Run.State().hThread.size()), processors.size());
    for (int i = 0; i < processors.size(); ++i)
      QCOMPARE(worker(scope.fake, w, i)->affinity,
               CpuSet::single(processors[i]));
  }

  // The kernel's clock of each worker processor, averaged over the ticks;
  // a processor without one is left out.
  void stopGivesTheClockUnderLoadOfEveryProcessor() {
    RunFakeScope scope;
    scope.fake.processMask = scope.fake.systemMask = 0x1F;
    Vorsk w;
    start(w, 5);
    // This host's MSRs stay out of it.
    RecordedProcessorScope recorded(scope.fake);
    scope.fake.processorClocksKHz = {
        {0, 4370000}, {1, 4410000}, {2, 4410000}, {3, 4450000}};
    tick(scope.fake, w, 1000);
    scope.fake.processorClocksKHz[0] = 4390000;
    tick(scope.fake, w, 1000);
    w.on_pushTest_clicked();
    QVERIFY(log(w).contains("Fréquence : 4412.5 MHz (4380.0 à 4450.0)"));
    // The graph has each tick's mean.
    const auto &clock = w.GraphSamples.points(SampleStore::Clock);
    QCOMPARE(int(clock.size()), 2);
    QCOMPARE(clock[0].y(), 4410.0);
    QCOMPARE(clock[1].y(), 4415.0);
    QCOMPARE(ui(w).labelFrequency->text(), QString("4412.5 MHz"));
  }

  void autoStartRunsBeforeTheWindowIsShown() {
    store("AutoStart", true);
    RunFakeScope scope;
    Vorsk w;
    QVERIFY(!w.isVisible());
    QCOMPARE(stopFlagLowByte(&bStopTest), 0);
    QVERIFY(w.Run.TestTimer != 0);
    QVERIFY(!ui(w).pushTest->isEnabled());
  }

  void failedWorkerLeavesItsProcessorToTheNext_data() {
    QTest::addColumn<int>("op");
    QTest::addColumn<QString>("line");
    QTest::newRow("failed CreateThread")
        << int(FakePlatform::Op::CreateThread) << "CreateThread failed.";
    QTest::newRow("failed SetThreadAffinityMask")
        << int(FakePlatform::Op::SetThreadAffinityMask)
        << "SetThreadAffinityMask failed.";
    QTest::newRow("failed SetThreadPriority")
        << int(FakePlatform::Op::SetThreadPriority)
        << "SetThreadPriority failed.";
    QTest::newRow("failed SetThreadPriorityBoost")
        << int(FakePlatform::Op::SetThreadPriorityBoost)
        << "SetThreadPriorityBoost failed.";
    QTest::newRow("failed ResumeThread")
        << int(FakePlatform::Op::ResumeThread) << "ResumeThread failed.";
  }
  void failedWorkerLeavesItsProcessorToTheNext() {
    QFETCH(int, op);
    QFETCH(QString, line);
    RunFakeScope scope;
    Vorsk w;
    const auto failing = FakePlatform::Op(op);
    scope.fake.failCall(failing, scope.fake.callCount(failing));
    // A previous run's reading must not leak into the failed worker.
    w.Run.Workers.ThreadTime.assign(2, 987654321);
    start(w);
    QCOMPARE(log(w), QStringList{line});
    QCOMPARE(worker(scope.fake, w, 1)->affinity, CpuSet::single(0));
    QVERIFY(!worker(scope.fake, w, 1)->suspended);

    tick(scope.fake, w, 1000);
    if (op == int(FakePlatform::Op::CreateThread)) {
      QCOMPARE(w.Run.State().hThread[0], ThreadHandle(0));
      QVERIFY(log(w).contains("Arrêt du test : GetExitCodeThread failed !"));
      QCOMPARE(logColour(w), QColor("#FB2"));
      QCOMPARE(toolTip(w), QString("Echec du test !"));
      QCOMPARE(stopFlagLowByte(&bStopTest), 1);
      return;
    }
    // The worker that never started drags the usage down, nothing else.
    QVERIFY(worker(scope.fake, w, 0)->suspended);
    QCOMPARE(ui(w).labelBar->text(), QString("50.0 %"));
    QCOMPARE(w.Run.TestTime, QTime(0, 0, 1, 500));
    QCOMPARE(stopFlagLowByte(&bStopTest), 0);
  }

  void frequencySamplesInTheFirstMinuteOnly() {
    RunFakeScope scope;
    Vorsk w;
    auto samples = [&](ThreadProc proc) {
      int n = 0;
      for (ThreadHandle h : scope.fake.handles())
        n += scope.fake.thread(h)->proc == proc;
      return n;
    };
    start(w);
    tick(scope.fake, w, 500);
    QCOMPARE(samples(ThreadBeginFrequency), 1);
    QCOMPARE(samples(ThreadEndFrequency), 0);
    runTo(scope.fake, w, QTime(0, 1));
    // A test time of exactly one minute still belongs to the first minute.
    tick(scope.fake, w, 1000);
    const int inFirstMinute = samples(ThreadEndFrequency);
    QVERIFY(inFirstMinute >= 8);
    tick(scope.fake, w, 1000);
    tick(scope.fake, w, 1000);
    QCOMPARE(samples(ThreadEndFrequency), inFirstMinute);
    QCOMPARE(samples(ThreadBeginFrequency), 1);
    // Without the kernel's clocks the graph has the first minute's samples.
    QCOMPARE(int(w.GraphSamples.points(SampleStore::Clock).size()),
             inFirstMinute);

    w.on_pushTest_clicked();
    QCOMPARE(samples(ThreadEndFrequency), inFirstMinute + 1);
    QVERIFY(ui(w).textLog->toPlainText().section('\n', 1).startsWith(
        "Fréquence : " + ui(w).labelFrequency->text() + "\n"));
  }

  void hardwareErrors_data() {
    QTest::addColumn<bool>("watched");
    QTest::addColumn<bool>("atTick");
    QTest::addColumn<int>("corrected");
    QTest::addColumn<int>("uncorrected");
    QTest::addColumn<QStringList>("end");
    QTest::addColumn<QString>("colour");
    const QString usage = "Utilisation CPU : 100.0 %";
    const QString stopped = "Test stoppé par l'utilisateur.";
    QTest::newRow("corrected error seen at a tick ends the run")
        << true << true << 2 << 0
        << QStringList{usage,
                       "Erreurs matérielles pendant le test (EDAC mc0) : 2 "
                       "corrigée(s), 0 non corrigée(s).",
                       "Votre PC n'est pas stable !"}
        << "#F43";
    QTest::newRow("uncorrected error after the last tick, user stop")
        << true << false << 0 << 1
        << QStringList{usage,
                       "Erreurs matérielles pendant le test (EDAC mc0) : 0 "
                       "corrigée(s), 1 non corrigée(s).",
                       stopped, "Votre PC n'est pas stable !"}
        << "#F43";
    QTest::newRow("errors counted before the run are not this run's")
        << true << false << 0 << 0
        << QStringList{usage, stopped, "Votre PC est stable !"} << "#6D2";
    QTest::newRow("no counter: said, the verdict unchanged")
        << false << false << 0 << 0
        << QStringList{usage,
                       "Erreurs matérielles non surveillées : aucun compteur "
                       "d'erreurs (EDAC, machine-check) disponible.",
                       stopped, "Votre PC est stable !"}
        << "#6D2";
  }
  void hardwareErrors() {
    QFETCH(bool, watched);
    QFETCH(bool, atTick);
    QFETCH(int, corrected);
    QFETCH(int, uncorrected);
    QFETCH(QStringList, end);
    QFETCH(QString, colour);
    RunFakeScope scope;
    if (!watched)
      scope.fake.errorCounters.clear();
    Vorsk w;
    start(w);
    runTo(scope.fake, w, QTime(1, 0));
    if (watched)
      scope.fake.errorCounters = {
          {"EDAC mc0", uint64_t(5 + corrected), uint64_t(1 + uncorrected)}};
    if (atTick)
      tick(scope.fake, w, 1000);
    else
      ui(w).pushTest->click();
    QCOMPARE(stopFlagLowByte(&bStopTest), 1);
    const QStringList all = log(w);
    QCOMPARE(all.mid(all.indexOf(end.first())), end);
    QCOMPARE(logColour(w), QColor(colour));
  }

  void userStop_data() {
    QTest::addColumn<QTime>("testTime");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("colour");
    QTest::newRow("after 59 minutes")
        << QTime(0, 59) << "Le test doit durer 1h minimum !"
        << "#FB2";
    QTest::newRow("after 60 minutes") << QTime(1, 0) << "Votre PC est stable !"
                                      << "#6D2";
  }
  void userStop() {
    QFETCH(QTime, testTime);
    QFETCH(QString, verdict);
    QFETCH(QString, colour);
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, testTime);
    QCOMPARE(w.Run.TestTime, testTime);
    WorkerCounters &first = worker(scope.fake, w, 0)->counters;
    WorkerCounters &second = worker(scope.fake, w, 1)->counters;
    first.verifiedFlops[WORKER_PATH_AVX2_FMA] = 2'000'000'000'000;
    second.verifiedFlops[WORKER_PATH_AVX2_FMA] = 1'970'000'000'000;
    second.verifiedFlops[WORKER_PATH_SSE2] = 30'000'000'000;

    ui(w).pushTest->click();
    QCOMPARE(stopFlagLowByte(&bStopTest), 1);
    QCOMPARE(log(w),
             (QStringList{"Fréquence",
                          testTime.toString("'Durée du test' : hh:mm:ss"),
                          "Utilisation CPU : 100.0 %",
                          "Calculs vérifiés : 4.0 Tflop (AVX2+FMA 99 %, "
                          "SSE2 1 %)",
                          "Test stoppé par l'utilisateur.", verdict}));
    QCOMPARE(logColour(w), QColor(colour));
    QCOMPARE(toolTip(w), QString("Vorsk 1.0.4"));
    QCOMPARE(ui(w).labelBar->text(), QString("0.0%"));
    QCOMPARE(ui(w).barCPU->value(), 80);
    QVERIFY(!ui(w).pushTest->isEnabled());
    // A user stop leaves the window where it is.
    QVERIFY(!w.isVisible());

    tick(scope.fake, w, 1000);
    QCOMPARE(w.Run.TestTimer, 0);
    QVERIFY(ui(w).pushTest->isEnabled());
    QCOMPARE(ui(w).pushTest->text(), QString("Démarrer"));
    QVERIFY(ui(w).pushOptions->isEnabled());
    QVERIFY(ui(w).comboDuration->isEnabled());
    for (int i = 0; i < 2; ++i)
      QCOMPARE(w.Run.State().hThread[i], ThreadHandle(0));
    for (ThreadHandle h : scope.fake.handles())
      QVERIFY(scope.fake.thread(h)->closed);

    // The next run starts with a separator and the verdict colour removed.
    ui(w).pushTest->click();
    QCOMPARE(log(w).mid(6), (QStringList{QString(52, '_'), QString()}));
    QCOMPARE(logColour(w), w.palette().color(QPalette::Base));
  }

  void usageBounds_data() {
    QTest::addColumn<quint64>("userTime");
    QTest::addColumn<QStringList>("tail");
    QTest::addColumn<QString>("colour");
    QTest::newRow("exactly 90.0 passes")
        << quint64(64800000000)
        << QStringList{"Utilisation CPU : 90.0 %",
                       "Test stoppé par l'utilisateur.",
                       "Votre PC est stable !"}
        << "#6D2";
    QTest::newRow("exactly 100.0 passes")
        << quint64(72000000000)
        << QStringList{"Utilisation CPU : 100.0 %",
                       "Test stoppé par l'utilisateur.",
                       "Votre PC est stable !"}
        << "#6D2";
    QTest::newRow("89.99 fails")
        << quint64(64792800000)
        << QStringList{"Utilisation CPU : 90.0 %",
                       "Celle-ci doit être supérieur à 90% !",
                       "Test stoppé par l'utilisateur."}
        << "#FB2";
    QTest::newRow("100.01 fails")
        << quint64(72007200000)
        << QStringList{"Utilisation CPU : 100.0 %",
                       "Pourcentage d'utilisation CPU incorrect !",
                       "Test stoppé par l'utilisateur."}
        << "#FB2";
  }
  void usageBounds() {
    QFETCH(quint64, userTime);
    QFETCH(QStringList, tail);
    QFETCH(QString, colour);
    RunFakeScope scope;
    Vorsk w;
    start(w);
    tick(scope.fake, w, 1000);
    w.Run.TestTime = QTime(1, 0);
    // An hour of both workers.
    w.Run.LoadedUserTime = userTime;
    w.Run.LoadedMs = 2 * 3600000;
    w.on_pushTest_clicked();
    QCOMPARE(log(w).mid(log(w).size() - 3), tail);
    QCOMPARE(logColour(w), QColor(colour));
  }

  // Ticks whose wall time the worker count does not divide: the test time
  // must still add up, or a fully loaded run reads above 100 per cent.
  void fullUsageOnAnyWorkerCountIsStable_data() {
    QTest::addColumn<int>("workers");
    QTest::newRow("three workers") << 3;
    QTest::newRow("thirty-two workers") << 32;
  }
  void fullUsageOnAnyWorkerCountIsStable() {
    QFETCH(int, workers);
    RunFakeScope scope;
    scope.fake.processMask = scope.fake.systemMask = 0xFFFFFFFF;
    Vorsk w;
    start(w, workers);
    while (w.Run.TestTime < QTime(1, 0))
      tick(scope.fake, w, 7001);
    w.on_pushTest_clicked();
    QCOMPARE(log(w).mid(log(w).size() - 3),
             (QStringList{"Utilisation CPU : 100.0 %",
                          "Test stoppé par l'utilisateur.",
                          "Votre PC est stable !"}));
    QCOMPARE(logColour(w), QColor("#6D2"));
  }

  void stopBeforeAnyTestTime() {
    RunFakeScope scope;
    Vorsk w;
    start(w);
    w.on_pushTest_clicked();
    QCOMPARE(log(w), (QStringList{"Fréquence", "Durée du test : 00:00:00",
                                  "Utilisation CPU : 0.0 %",
                                  "Celle-ci doit être supérieur à 90% !",
                                  "Test stoppé par l'utilisateur."}));
    QCOMPARE(logColour(w), QColor("#FB2"));
  }

  void verdictSounds_data() {
    QTest::addColumn<QString>("successSound");
    QTest::addColumn<QTime>("testTime");
    QTest::addColumn<uint>("workerCode");
    QTest::addColumn<QStringList>("played");
    const QTime hour(1, 0);
    QTest::newRow("stable after an hour")
        << "Ok.wav" << hour << STILL_ACTIVE
        << QStringList{"./Sound/Succes/Ok.wav"};
    QTest::newRow("success sound off")
        << "Aucun" << hour << STILL_ACTIVE << QStringList();
    QTest::newRow("stopped too early, no sound")
        << "Ok.wav" << QTime(0, 59) << STILL_ACTIVE << QStringList();
    QTest::newRow("calculation error") << "Ok.wav" << QTime(0, 0, 10) << 3u
                                       << QStringList{"./Sound/Failed/Ko.wav"};
  }
  void verdictSounds() {
    QFETCH(QString, successSound);
    QFETCH(QTime, testTime);
    QFETCH(uint, workerCode);
    QFETCH(QStringList, played);
    store("SuccesSound", successSound);
    store("FailedSound", "Ko.wav");
    QStringList heard;
    const SoundPlayer previous =
        setSoundPlayer([&](const QString &file) { heard << file; });
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, testTime);
    if (workerCode == STILL_ACTIVE) {
      ui(w).pushTest->click();
    } else {
      worker(scope.fake, w, 1)->exitCode = workerCode;
      tick(scope.fake, w, 1000);
    }
    setSoundPlayer(previous);
    QCOMPARE(heard, played);
  }

  void workerEnd_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QStringList>("verdict");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("tip");
    QTest::newRow("0: stopped, no verdict")
        << 0u << 0 << QStringList() << QString() << QString("10 secondes");
    QTest::newRow("7: nothing to report")
        << 7u << 0 << QStringList() << QString() << QString("10 secondes");
    QTest::newRow("3: calculation error")
        << 3u << 0
        << QStringList{"Le processeur 1 a généré une erreur de calcul.",
                       "Votre PC n'est pas stable !"}
        << "#F43"
        << "PC instable !";
    QTest::newRow("5: allocation")
        << 5u << 0
        << QStringList{"Thread 1 : erreur d'allocation mémoire.",
                       "Votre système a provoqué une erreur !"}
        << "#FB2"
        << "Echec du test !";
    QTest::newRow("9: the engine's file")
        << 9u << 0
        << QStringList{"Thread 1 : erreur d'accès au fichier Burnmod.so.",
                       "Votre système a provoqué une erreur !"}
        << "#FB2"
        << "Echec du test !";
    QTest::newRow("42: other code")
        << 42u << 0
        << QStringList{"Le thread 1 a généré une erreur (code 42).",
                       "Votre système a provoqué une erreur !"}
        << "#FB2"
        << "Echec du test !";
    QTest::newRow("SIGILL: the processor failed")
        << 132u << 4
        << QStringList{"Le processeur 1 s'est arrêté brutalement (SIGILL : "
                       "instruction illégale).",
                       "Votre PC n'est pas stable !"}
        << "#F43"
        << "PC instable !";
    QTest::newRow("SIGKILL from outside: no verdict")
        << 137u << 9
        << QStringList{"Le processus de test du processeur 1 a été arrêté de "
                       "l'extérieur (SIGKILL)."}
        << "#FB2"
        << "Echec du test !";
  }
  void workerEnd() {
    QFETCH(uint, code);
    QFETCH(int, signal);
    QFETCH(QStringList, verdict);
    QFETCH(QString, colour);
    QFETCH(QString, tip);
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, QTime(0, 0, 10));
    worker(scope.fake, w, 1)->exitCode = code;
    worker(scope.fake, w, 1)->signal = signal;
    tick(scope.fake, w, 1000);

    QCOMPARE(stopFlagLowByte(&bStopTest), 1);
    const QStringList all = log(w);
    QCOMPARE(all.mid(0, 3),
             (QStringList{"Fréquence", "Durée du test : 00:00:10",
                          "Utilisation CPU : 100.0 %"}));
    QCOMPARE(all.mid(3), verdict);
    QCOMPARE(logColour(w), colour.isEmpty() ? w.palette().color(QPalette::Base)
                                            : QColor(colour));
    QCOMPARE(toolTip(w), tip);
    QCOMPARE(w.isVisible(), !verdict.isEmpty());

    tick(scope.fake, w, 1000);
    QVERIFY(ui(w).pushTest->isEnabled());
    QCOMPARE(ui(w).pushTest->text(), QString("Démarrer"));
    QCOMPARE(w.Run.TestTimer, 0);
  }

  void unreadableWorker_data() {
    QTest::addColumn<int>("op");
    QTest::addColumn<QString>("line");
    QTest::newRow("GetExitCodeThread fails")
        << int(FakePlatform::Op::GetExitCodeThread)
        << "Arrêt du test : GetExitCodeThread failed !";
    QTest::newRow("GetThreadTimes fails")
        << int(FakePlatform::Op::GetThreadUserTime)
        << "Arrêt du test : GetThreadTimes failed !";
  }
  void unreadableWorker() {
    QFETCH(int, op);
    QFETCH(QString, line);
    RunFakeScope scope;
    Vorsk w;
    start(w);
    tick(scope.fake, w, 1000);
    // Worker 1 of the next tick.
    const auto failing = FakePlatform::Op(op);
    scope.fake.failCall(failing, scope.fake.callCount(failing) + 1);
    tick(scope.fake, w, 1000);
    QCOMPARE(log(w).last(), line);
    QCOMPARE(logColour(w), QColor("#FB2"));
    QCOMPARE(toolTip(w), QString("Echec du test !"));
    QVERIFY(w.isVisible());
    QCOMPARE(stopFlagLowByte(&bStopTest), 1);
  }

  void sleepIsFullUsageButNoTestTime() {
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, QTime(0, 0, 58));
    tick(scope.fake, w, 2000, 50);
    QCOMPARE(ui(w).labelBar->text(), QString("50.0 %"));
    QCOMPARE(w.Run.TestTime, QTime(0, 1));
    QCOMPARE(ui(w).barTest->format(), QString("1 minute 0 seconde"));

    // A minute asleep: one second of processor time in 61 s of wall time.
    scope.fake.advance(61000);
    for (int i = 0; i < 2; ++i)
      worker(scope.fake, w, i)->userTime += 1000 * MS;
    QTimerEvent event(w.Run.TestTimer);
    w.Run.timerEvent(&event);
    QCOMPARE(ui(w).labelBar->text(), QString("100.0 %"));
    QCOMPARE(ui(w).barCPU->value(), 100);
    QCOMPARE(w.Run.TestTime, QTime(0, 1, 1));
    QCOMPARE(ui(w).barTest->format(), QString("1 minute 1 seconde"));
    // "  Manuelle" fills the bar once a minute.
    QCOMPARE(ui(w).barTest->value(), 1);
  }

  void timedRunEnd_data() {
    QTest::addColumn<int>("duration");
    QTest::addColumn<bool>("shutdown");
    QTest::addColumn<uint>("code");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QStringList>("tail");
    QTest::addColumn<bool>("closes");
    // The notice's message: the test time, or the processor and the failure.
    QTest::addColumn<QString>("message");
    const QString time = "Durée du test : 01:00:0";
    const QString processor = QString(ProcessorName) + "\n";
    QTest::newRow("one hour, stable, shutdown")
        << 1 << true << uint(STILL_ACTIVE) << 100
        << QStringList{"Fin programmée du test.", "Votre PC est stable !"}
        << true << time;
    QTest::newRow("one hour, poor usage, shutdown")
        << 1 << true << uint(STILL_ACTIVE) << 80
        << QStringList{"Celle-ci doit être supérieur à 90% !",
                       "Fin programmée du test."}
        << true << time;
    QTest::newRow("calculation error, shutdown")
        << 1 << true << 3u << 100
        << QStringList{"Le processeur 1 a généré une erreur de calcul.",
                       "Votre PC n'est pas stable !"}
        << true << processor + "Le processeur 1 a généré une erreur de calcul.";
    QTest::newRow("one hour, no shutdown")
        << 1 << false << uint(STILL_ACTIVE) << 100
        << QStringList{"Fin programmée du test.", "Votre PC est stable !"}
        << false << time;
    QTest::newRow("manual run never shuts down")
        << 0 << true << 5u << 100
        << QStringList{"Thread 1 : erreur d'allocation mémoire.",
                       "Votre système a provoqué une erreur !"}
        << false << processor + "Thread 1 : erreur d'allocation mémoire.";
  }
  void timedRunEnd() {
    QFETCH(int, duration);
    QFETCH(bool, shutdown);
    QFETCH(uint, code);
    QFETCH(int, percent);
    QFETCH(QStringList, tail);
    QFETCH(bool, closes);
    QFETCH(QString, message);
    store("Duration", duration);
    store("Shutdown", shutdown);
    RunFakeScope scope;
    std::vector<uint32_t> sleeps;
    scope.fake.onSleep = [&](uint32_t ms) { sleeps.push_back(ms); };
    NoticeRecorder recorder;
    Vorsk w;
    qstrcpy(m_SystemInfo.ProcessorName, ProcessorName);
    w.show();
    start(w);
    if (code == STILL_ACTIVE) {
      while (stopFlagLowByte(&bStopTest) == 0)
        tick(scope.fake, w, 8000, percent);
    } else {
      runTo(scope.fake, w, QTime(0, 30));
      worker(scope.fake, w, 1)->exitCode = code;
      tick(scope.fake, w, 1000);
    }
    QCOMPARE(stopFlagLowByte(&bStopTest), 1);
    const QStringList all = log(w);
    QCOMPARE(all.mid(all.size() - 2), tail);
    QCOMPARE(int(recorder.notices.size()), 1);
    QCOMPARE(recorder.notices[0].title, tail.last());
    QVERIFY2(recorder.notices[0].message.startsWith(message),
             qPrintable(recorder.notices[0].message));
    QCOMPARE(recorder.notices[0].failure, code != STILL_ACTIVE);
    QCOMPARE(w.bShutdownPending, closes);
    QCOMPARE(w.isVisible(), !closes);
    QCOMPARE(scope.fake.shutdownRequests, closes ? 1 : 0);
    if (closes) {
      QCOMPARE(sleeps.back(), 5000u);
      QVERIFY(QFile::exists("Event.log"));
    }
    if (code == STILL_ACTIVE)
      QCOMPARE(toolTip(w), QString("Test terminé."));
  }

  void temperatureLimitEndsTheRun() {
    store("Monitoring", 2);
    store("TempSensor", 0);
    store("VoltSensor", 0);
    store("MaxTemp", 50);
    store("Duration", 1);
    store("Shutdown", true);
    RunFakeScope scope;
    scope.fake.publish("SFSharedMemory_ALM", speedFanBytes({4500}, {130}));
    NoticeRecorder recorder;
    Vorsk w;
    qstrcpy(m_SystemInfo.ProcessorName, ProcessorName);
    QVERIFY(w.Run.SensorTimer != 0 && w.Run.SensorTimer != w.Run.TestTimer);
    start(w);
    runTo(scope.fake, w, QTime(0, 0, 20));
    QTimerEvent sensorTick(w.Run.SensorTimer);
    w.Run.timerEvent(&sensorTick);
    QCOMPARE(stopFlagLowByte(&bStopTest), 0);

    scope.fake.publish("SFSharedMemory_ALM", speedFanBytes({5000}, {130}));
    w.Run.timerEvent(&sensorTick);
    QCOMPARE(stopFlagLowByte(&bStopTest), 1);
    QCOMPARE(log(w), (QStringList{"Fréquence", "Vcore : 1.30 V (1.30 à 1.30)",
                                  "T° CPU : 47.5 °C (45.0 à 50.0)",
                                  "Durée du test : 00:00:20",
                                  "Utilisation CPU : 100.0 %",
                                  "Arrêt du test : température maximale "
                                  "atteinte !"}));
    QCOMPARE(logColour(w), QColor("#FB2"));
    QCOMPARE(toolTip(w), QString("Echec du test !"));
    QCOMPARE(scope.fake.shutdownRequests, 1);
    // The graph keeps the run's readings, under its limit line.
    const auto &temperature = w.GraphSamples.points(SampleStore::Temperature);
    QCOMPARE(int(temperature.size()), 2);
    QCOMPARE(temperature[0].y(), 45.0);
    QCOMPARE(temperature[1].y(), 50.0);
    QCOMPARE(w.GraphSamples.limit(), 50.0);
    QCOMPARE(int(recorder.notices.size()), 1);
    QCOMPARE(recorder.notices[0].title,
             QString("Arrêt du test : température maximale atteinte !"));
    QCOMPARE(recorder.notices[0].message, QString(ProcessorName));
  }

  // A worker may find an error in the unit it was running when the run was
  // stopped and return it after the verdict.
  void lateCalculationError_data() {
    QTest::addColumn<uint>("endingCode"); // worker 0's exit ending the run
    QTest::addColumn<bool>("closeBeforeCleanUp");
    QTest::addColumn<QStringList>("tail");
    QTest::newRow("after a stable verdict")
        << STILL_ACTIVE << false
        << QStringList{"Votre PC est stable !",
                       "Le processeur 1 a généré une erreur de calcul.",
                       "Votre PC n'est pas stable !"};
    QTest::newRow("second processor after a calculation error")
        << 3u << false
        << QStringList{"Le processeur 0 a généré une erreur de calcul.",
                       "Votre PC n'est pas stable !",
                       "Le processeur 1 a généré une erreur de calcul."};
    QTest::newRow("window closed before the clean-up")
        << STILL_ACTIVE << true
        << QStringList{"Votre PC est stable !",
                       "Le processeur 1 a généré une erreur de calcul.",
                       "Votre PC n'est pas stable !"};
  }
  void lateCalculationError() {
    QFETCH(uint, endingCode);
    QFETCH(bool, closeBeforeCleanUp);
    QFETCH(QStringList, tail);
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, QTime(1, 0));
    if (endingCode == STILL_ACTIVE) {
      ui(w).pushTest->click();
    } else {
      worker(scope.fake, w, 0)->exitCode = endingCode;
      tick(scope.fake, w, 1000);
    }
    worker(scope.fake, w, 1)->exitCode = 2;
    if (closeBeforeCleanUp)
      QVERIFY(w.close());
    else
      tick(scope.fake, w, 1000);

    const QStringList all = log(w);
    QCOMPARE(all.mid(all.size() - tail.size()), tail);
    QCOMPARE(logColour(w), QColor("#F43"));
    QCOMPARE(toolTip(w), QString("PC instable !"));
    for (int i = 0; i < 2; ++i)
      QCOMPARE(w.Run.State().hThread[i], ThreadHandle(0));
    if (closeBeforeCleanUp) {
      QFile file("Event.log");
      QVERIFY(file.open(QIODevice::ReadOnly));
      QVERIFY(file.readAll().endsWith("Votre PC n'est pas stable !"));
    }
  }

  void closingDuringARun() {
    store("Priority", 0);
    store("Duration", 2);
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, QTime(0, 0, 20));
    w.on_pushTest_clicked();
    tick(scope.fake, w, 1000);
    w.on_pushTest_clicked();
    runTo(scope.fake, w, QTime(0, 0, 20));
    const QString shown = ui(w).textLog->toPlainText();
    const std::vector<ThreadHandle> second = {w.Run.State().hThread[0],
                                              w.Run.State().hThread[1]};
    w.resize(410, 500);

    QVERIFY(w.close());
    QCOMPARE(stopFlagLowByte(&bStopTest), 1);
    for (ThreadHandle h : second) {
      QVERIFY(scope.fake.thread(h)->terminated);
      QVERIFY(scope.fake.thread(h)->closed);
    }
    for (int i = 0; i < 2; ++i)
      QCOMPARE(w.Run.State().hThread[i], ThreadHandle(0));
    QCOMPARE(ui(w).textLog->toPlainText(), shown);
    QVERIFY(!shown.contains("Votre PC"));
    QCOMPARE(scope.fake.shutdownRequests, 0);

    QSettings settings("Vorsk.ini", QSettings::IniFormat);
    QCOMPARE(settings.value("Priority").toInt(), 0);
    QCOMPARE(settings.value("Duration").toInt(), 2);
    QCOMPARE(settings.value("Size").toSize(), QSize(410, 500));
    QCOMPARE(settings.value("Position").toPoint(), w.pos());

    QFile file("Event.log");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes, shown.toUtf8());
    QVERIFY(!bytes.contains('\r'));
    QVERIFY(bytes.contains("Durée du test"));
  }

  void closingWithAnEmptyLogKeepsTheLastEventLog() {
    {
      QFile file("Event.log");
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("last run\n");
    }
    RunFakeScope scope;
    Vorsk w;
    QVERIFY(w.close());
    QFile file("Event.log");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("last run\n"));
  }
};

QTEST_MAIN(RunControlTest)
#include "tst_runcontrol.moc"

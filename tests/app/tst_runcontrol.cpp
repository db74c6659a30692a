#include "sensors/Publisher.h"

#include "app/DesktopNotice.h"
#include "app/Vorsk.h"
#include "platform/EngineContract.h"
#include "platform/fake/InstantThreadsFake.h"
#include "platform/fake/RecordedProcessor.h"
#include "settings/SoundPlayer.h"
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
    const uint64_t wall =
        ms + (w.Run.CurrentTestTime() == QTime(0, 0) ? 500 : 0);
    fake.advance(ms);
    for (int i = 0; i < m_SystemInfo.LogicalCount; ++i)
      if (FakePlatform::Thread *t = worker(fake, w, i))
        if (!t->suspended)
          t->userTime += wall * MS * uint64_t(percent) / 100;
    w.Run.Tick();
  }

  // Ticks of at most 8 s at full usage until the test time reaches `target`.
  static void runTo(FakePlatform &fake, Vorsk &w, const QTime &target) {
    while (w.Run.CurrentTestTime() < target &&
           stopFlagLowByte(&bStopTest) == 0) {
      uint64_t left = uint64_t(w.Run.CurrentTestTime().msecsTo(target));
      uint64_t step = std::min<uint64_t>(8000, left);
      if (w.Run.CurrentTestTime() == QTime(0, 0))
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
    QVERIFY(w.Run.Running());
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
    QCOMPARE(w.Run.CurrentTestTime(), QTime(0, 0, 1, 500));
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
    QVERIFY(w.Run.Running());
    QVERIFY(!ui(w).pushTest->isEnabled());
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

  // The log's lines of a user stop are the controller's; the window
  // gives the buttons back once the workers are gone, and a next run starts
  // with a separator and the verdict colour removed.
  void userStop() {
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, QTime(1, 0));
    ui(w).pushTest->click();
    QCOMPARE(stopFlagLowByte(&bStopTest), 1);
    QCOMPARE(log(w).last(), QString("Votre PC est stable !"));
    QCOMPARE(logColour(w), QColor("#6D2"));
    QCOMPARE(toolTip(w), QString("Vorsk 1.0.4"));
    QCOMPARE(ui(w).labelBar->text(), QString("0.0%"));
    QCOMPARE(ui(w).barCPU->value(), 80);
    QVERIFY(!ui(w).pushTest->isEnabled());
    // A user stop leaves the window where it is.
    QVERIFY(!w.isVisible());

    tick(scope.fake, w, 1000);
    QVERIFY(!w.Run.Running());
    QVERIFY(ui(w).pushTest->isEnabled());
    QCOMPARE(ui(w).pushTest->text(), QString("Démarrer"));
    QVERIFY(ui(w).pushOptions->isEnabled());
    QVERIFY(ui(w).comboDuration->isEnabled());
    for (int i = 0; i < 2; ++i)
      QCOMPARE(w.Run.State().hThread[i], ThreadHandle(0));
    for (ThreadHandle h : scope.fake.handles())
      QVERIFY(scope.fake.thread(h)->closed);

    ui(w).pushTest->click();
    QCOMPARE(log(w).mid(5), (QStringList{QString(52, '_'), QString()}));
    QCOMPARE(logColour(w), w.palette().color(QPalette::Base));
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

  void sleepIsFullUsageButNoTestTime() {
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, QTime(0, 0, 58));
    tick(scope.fake, w, 2000, 50);
    QCOMPARE(ui(w).labelBar->text(), QString("50.0 %"));
    QCOMPARE(w.Run.CurrentTestTime(), QTime(0, 1));
    QCOMPARE(ui(w).barTest->format(), QString("1 minute 0 seconde"));

    // A minute asleep: one second of processor time in 61 s of wall time.
    scope.fake.advance(61000);
    for (int i = 0; i < 2; ++i)
      worker(scope.fake, w, i)->userTime += 1000 * MS;
    w.Run.Tick();
    QCOMPARE(ui(w).labelBar->text(), QString("100.0 %"));
    QCOMPARE(ui(w).barCPU->value(), 100);
    QCOMPARE(w.Run.CurrentTestTime(), QTime(0, 1, 1));
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
    start(w);
    runTo(scope.fake, w, QTime(0, 0, 20));
    w.Run.TickSensors();
    QCOMPARE(stopFlagLowByte(&bStopTest), 0);

    scope.fake.publish("SFSharedMemory_ALM", speedFanBytes({5000}, {130}));
    w.Run.TickSensors();
    QCOMPARE(stopFlagLowByte(&bStopTest), 1);
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

  // A calculation error returned as the window closes, after a stable
  // verdict, still reaches Event.log.
  void lateCalculationErrorAtCloseReachesTheEventLog() {
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, QTime(1, 0));
    ui(w).pushTest->click();
    worker(scope.fake, w, 1)->exitCode = 2;
    QVERIFY(w.close());
    QCOMPARE(toolTip(w), QString("PC instable !"));
    for (int i = 0; i < 2; ++i)
      QCOMPARE(w.Run.State().hThread[i], ThreadHandle(0));
    QFile file("Event.log");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith("Votre PC n'est pas stable !"));
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

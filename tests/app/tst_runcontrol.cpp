#include "sensors/Publisher.h"

#include "app/DesktopNotice.h"
#include "app/Vorsk.h"
#include "platform/EngineContract.h"
#include "platform/fake/InstantThreadsFake.h"
#include "settings/SoundPlayer.h"
#include "stress/ThreadStress.h"
#include "sysinfo/SystemInfo.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTextEdit>
#include <QtTest>

namespace {
const uint64_t MS = 10000; // 100-ns units in a millisecond

void store(const QString &key, const QVariant &value) {
  QSettings settings("Vorsk.ini", QSettings::IniFormat);
  settings.setValue(key, value);
}

template <class T> T *child(Vorsk &w, const char *name) {
  T *widget = w.findChild<T *>(name);
  if (!widget)
    qFatal("no %s", name);
  return widget;
}
QPushButton *button(Vorsk &w, const char *name) {
  return child<QPushButton>(w, name);
}
QString text(Vorsk &w, const char *label) {
  return child<QLabel>(w, label)->text();
}
QTextEdit *logPane(Vorsk &w) { return child<QTextEdit>(w, "textLog"); }
QProgressBar *testBar(Vorsk &w) { return child<QProgressBar>(w, "barTest"); }
QString toolTip(Vorsk &w) {
  return w.findChild<QSystemTrayIcon *>()->toolTip();
}

struct NoticeRecorder {
  NoticeRecorder()
      : previous(setDesktopNotifier(
            [this](const DesktopNotice &n) { notices.push_back(n); })) {}
  ~NoticeRecorder() { setDesktopNotifier(previous); }
  std::vector<DesktopNotice> notices;
  DesktopNotifier previous;
};

const char ProcessorName[] = "Fake Processor @ 3.00GHz";

// Frequency samples end at once, as a short sampling thread does; workers
// never run, their exit codes and user times are set by hand, and time
// moves only when the test or a wait moves it.
struct RunFakeScope {
  RunFakeScope() : previous(setPlatform(&fake)) {}
  ~RunFakeScope() { setPlatform(previous); }
  InstantThreadsFake fake;
  Platform *previous;
};
} // namespace

// The window's side of a run: what it shows of the controller's ticks and
// ends, its buttons, sounds, notices, shutdown rule and closing. How a run
// is measured and judged is the controller's, tested in tst_runcontroller.
class RunControlTest : public QObject {
  Q_OBJECT

  // Two workers; the window identified the fake machine before.
  static void start(Vorsk &w) {
    m_SystemInfo.LogicalCount = 2;
    qstrcpy(m_SystemInfo.ProcessorName, ProcessorName);
    button(w, "pushTest")->click();
  }

  // One run-timer tick after `ms` of wall time in which every running worker
  // obtained all of it; the first tick's own 500 ms wait counts too.
  static void tick(FakePlatform &fake, Vorsk &w, uint64_t ms) {
    RunController &run = w.Controller();
    const uint64_t wall = ms + (run.CurrentTestTime() == QTime(0, 0) ? 500 : 0);
    fake.advance(ms);
    for (ThreadHandle h : run.State().hThread)
      if (FakePlatform::Thread *t = fake.thread(h))
        t->userTime += wall * MS;
    run.Tick();
  }

  // Ticks of at most 8 s until the test time reaches `target`.
  static void runTo(FakePlatform &fake, Vorsk &w, const QTime &target) {
    RunController &run = w.Controller();
    while (run.CurrentTestTime() < target && run.Running()) {
      uint64_t step =
          std::min<int64_t>(8000, run.CurrentTestTime().msecsTo(target));
      if (run.CurrentTestTime() == QTime(0, 0))
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

  // The buttons follow the run; each tick and the end show in the labels,
  // bars, tray tool tip, graph and log; a next run starts with a separator
  // and without the verdict colour.
  void theWindowFollowsARun() {
    RunFakeScope scope;
    Vorsk w;
    start(w);
    const FakePlatform::Thread *worker =
        scope.fake.thread(w.Controller().State().hThread[0]);
    QCOMPARE(worker->runTestArgument, l2KbPerLogical());
    QVERIFY(!button(w, "pushTest")->isEnabled());
    QVERIFY(!button(w, "pushOptions")->isEnabled());
    QVERIFY(!child<QWidget>(w, "comboDuration")->isEnabled());
    QVERIFY(child<QWidget>(w, "comboPriority")->isEnabled());
    QCOMPARE(testBar(w)->format(), QString("0 seconde"));

    scope.fake.processorClocksKHz = {{0, 4400000}, {1, 4420000}};
    tick(scope.fake, w, 1000);
    QCOMPARE(button(w, "pushTest")->text(), QString("Arrêter"));
    QVERIFY(button(w, "pushTest")->isEnabled());
    QCOMPARE(text(w, "labelBar"), QString("100.0 %"));
    QCOMPARE(child<QProgressBar>(w, "barCPU")->value(), 100);
    QCOMPARE(toolTip(w), QString("1 seconde"));
    QCOMPARE(testBar(w)->format(), QString("1 seconde"));
    const auto &clock = w.GraphData().points(SampleStore::Clock);
    QCOMPARE(int(clock.size()), 1);
    QCOMPARE(clock[0].y(), 4410.0);

    runTo(scope.fake, w, QTime(1, 0));
    // "  Manuelle" fills the bar once a minute.
    QCOMPARE(testBar(w)->value(), 0);
    button(w, "pushTest")->click();
    const QStringList log = logPane(w)->toPlainText().split('\n');
    QCOMPARE(log.last(), QString("Votre PC est stable !"));
    QVERIFY(log.contains("Fréquence : " + text(w, "labelFrequency") +
                         " (4400.0 à 4420.0)"));
    QCOMPARE(logPane(w)->palette().color(QPalette::Base), QColor("#6D2"));
    QCOMPARE(text(w, "labelBar"), QString("0.0%"));
    QCOMPARE(child<QProgressBar>(w, "barCPU")->value(), 80);
    QVERIFY(!button(w, "pushTest")->isEnabled());
    // A user stop leaves the window where it is.
    QVERIFY(!w.isVisible());

    tick(scope.fake, w, 1000);
    QCOMPARE(button(w, "pushTest")->text(), QString("Démarrer"));
    QVERIFY(button(w, "pushTest")->isEnabled());
    QVERIFY(button(w, "pushOptions")->isEnabled());
    QVERIFY(child<QWidget>(w, "comboDuration")->isEnabled());

    button(w, "pushTest")->click();
    QCOMPARE(logPane(w)->toPlainText().split('\n').mid(log.size(), 2),
             (QStringList{QString(52, '_'), QString()}));
    QCOMPARE(logPane(w)->palette().color(QPalette::Base),
             w.palette().color(QPalette::Base));
  }

  void autoStartRunsBeforeTheWindowIsShown() {
    store("AutoStart", true);
    RunFakeScope scope;
    Vorsk w;
    QVERIFY(!w.isVisible());
    QVERIFY(w.Controller().Running());
    QVERIFY(!button(w, "pushTest")->isEnabled());
  }

  // The sounds chosen for the verdicts, the notice's title and message (the
  // test time, or the processor and the failure), and the shutdown rule:
  // only a timed run that ended on its own closes the window and shuts
  // down, five seconds after keeping Event.log. The settings are written by
  // hand: a yes that is no boolean is a no, and names are UTF-8.
  void endsOfARun_data() {
    QTest::addColumn<int>("duration");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<uint>("code"); // worker 1's at 30 s; none: the run ends
    QTest::addColumn<QStringList>("heard");
    QTest::addColumn<QString>("notice"); // title|message; empty: none
    QTest::addColumn<bool>("closes");
    const QStringList ok{"./Sound/Succes/Ok.wav"}, ko{"./Sound/Failed/Ko.wav"};
    const QString processor = QString(ProcessorName) + "\n";
    const QString stable = "Votre PC est stable !|Durée du test : 01:00:0";
    const uint none = STILL_ACTIVE;
    QTest::newRow("user stop after an hour")
        << 0 << QByteArray("Shutdown=true\nSuccesSound=Réussite.wav") << none
        << QStringList{"./Sound/Succes/Réussite.wav"} << QString() << false;
    QTest::newRow("no sound chosen")
        << 0 << QByteArray() << none << QStringList() << QString() << false;
    QTest::newRow("one hour, shutdown")
        << 1 << QByteArray("Shutdown=TRUE\nSuccesSound=Ok.wav") << none << ok
        << stable << true;
    QTest::newRow("one hour, no shutdown chosen")
        << 1 << QByteArray() << none << QStringList() << stable << false;
    QTest::newRow("one hour, shutdown that is no boolean")
        << 1 << QByteArray("Shutdown=non") << none << QStringList() << stable
        << false;
    QTest::newRow("calculation error, shutdown")
        << 1 << QByteArray("Shutdown=1\nFailedSound=Ko.wav") << 3u << ko
        << "Votre PC n'est pas stable !|" + processor +
               "Le processeur 1 a généré une erreur de calcul."
        << true;
    QTest::newRow("manual run never shuts down")
        << 0 << QByteArray("Shutdown=true\nFailedSound=Ko.wav") << 5u << ko
        << "Votre système a provoqué une erreur !|" + processor +
               "Thread 1 : erreur d'allocation mémoire."
        << false;
  }
  void endsOfARun() {
    QFETCH(int, duration);
    QFETCH(QByteArray, settings);
    QFETCH(uint, code);
    QFETCH(QString, notice);
    QFETCH(bool, closes);
    {
      QFile ini("Vorsk.ini");
      QVERIFY(ini.open(QIODevice::WriteOnly));
      ini.write("[General]\nDuration=" + QByteArray::number(duration) + "\n" +
                settings + "\n");
    }
    QStringList heard;
    const SoundPlayer previous =
        setSoundPlayer([&](const QString &file) { heard << file; });
    RunFakeScope scope;
    std::vector<uint32_t> sleeps;
    scope.fake.onSleep = [&](uint32_t ms) { sleeps.push_back(ms); };
    NoticeRecorder recorder;
    Vorsk w;
    w.show();
    start(w);
    if (code != STILL_ACTIVE) {
      runTo(scope.fake, w, QTime(0, 0, 30));
      scope.fake.thread(w.Controller().State().hThread[1])->exitCode = code;
      tick(scope.fake, w, 1000);
    } else if (duration > 0) {
      while (w.Controller().Running())
        tick(scope.fake, w, 8000);
    } else {
      runTo(scope.fake, w, QTime(1, 0));
      button(w, "pushTest")->click();
    }
    setSoundPlayer(previous);
    QTEST(heard, "heard");
    QCOMPARE(int(recorder.notices.size()), notice.isEmpty() ? 0 : 1);
    if (!notice.isEmpty()) {
      QCOMPARE(recorder.notices[0].title, notice.section('|', 0, 0));
      QVERIFY2(recorder.notices[0].message.startsWith(notice.section('|', 1)),
               qPrintable(recorder.notices[0].message));
      QCOMPARE(recorder.notices[0].failure, code != STILL_ACTIVE);
    }
    QCOMPARE(w.isVisible(), !closes);
    QCOMPARE(scope.fake.shutdownRequests, closes ? 1 : 0);
    if (closes) {
      QCOMPARE(sleeps.back(), 5000u);
      QVERIFY(QFile::exists("Event.log"));
    }
  }

  // Every reading of the run goes to the graph, the one that reaches the
  // limit too, under the limit's line; the notice names the processor.
  void temperatureStop() {
    store("Monitoring", 2);
    store("TempSensor", 0);
    store("VoltSensor", 0);
    store("MaxTemp", 50);
    RunFakeScope scope;
    scope.fake.publish("SFSharedMemory_ALM", speedFanBytes({4500}, {130}));
    NoticeRecorder recorder;
    Vorsk w;
    w.Controller().TickSensors();
    start(w);
    runTo(scope.fake, w, QTime(0, 0, 20));
    w.Controller().TickSensors();
    scope.fake.publish("SFSharedMemory_ALM", speedFanBytes({5000}, {130}));
    w.Controller().TickSensors();
    QVERIFY(!w.Controller().Running());
    QCOMPARE(text(w, "labelTemperature"), QString("50.0 °C"));
    const auto &temperature = w.GraphData().points(SampleStore::Temperature);
    QCOMPARE(int(temperature.size()), 2);
    QCOMPARE(temperature[0].y(), 45.0);
    QCOMPARE(temperature[1].y(), 50.0);
    QCOMPARE(w.GraphData().limit(), 50.0);
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
    button(w, "pushTest")->click();
    scope.fake.thread(w.Controller().State().hThread[1])->exitCode = 2;
    QVERIFY(w.close());
    QFile file("Event.log");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith("Votre PC n'est pas stable !"));
  }

  // Closing during a second run stops its workers without a verdict and
  // keeps the log, the choices, the size and the position.
  void closingDuringARun() {
    store("Priority", 0);
    store("Duration", 2);
    RunFakeScope scope;
    Vorsk w;
    start(w);
    runTo(scope.fake, w, QTime(0, 0, 20));
    button(w, "pushTest")->click();
    tick(scope.fake, w, 1000);
    button(w, "pushTest")->click();
    runTo(scope.fake, w, QTime(0, 0, 20));
    const QString shown = logPane(w)->toPlainText();
    const std::vector<ThreadHandle> second = w.Controller().State().hThread;
    w.resize(410, 500);

    QVERIFY(w.close());
    QVERIFY(!w.Controller().Running());
    for (ThreadHandle h : second) {
      QVERIFY(scope.fake.thread(h)->terminated);
      QVERIFY(scope.fake.thread(h)->closed);
    }
    QCOMPARE(logPane(w)->toPlainText(), shown);
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

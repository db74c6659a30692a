#include "app/Vorsk.h"
#include "platform/EngineContract.h"
#include "platform/linux/LinuxPlatform.h"
#include "stress/ThreadStress.h"
#include "stress/WorkerInstall.h"
#include "sysinfo/SystemInfo.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include <algorithm>
#include <csignal>

// Whole runs on the Linux platform: workers in processes of their own, each
// bound to its processor, running fixture engines.
class RealRunTest : public QObject {
  Q_OBJECT

  Platform *previous = nullptr;
  QTemporaryDir install;

  static void tick(Vorsk &w) { w.Controller().Tick(); }
  static QPushButton *pushTest(Vorsk &w) {
    return w.findChild<QPushButton *>("pushTest");
  }
  static QTextEdit *logPane(Vorsk &w) {
    return w.findChild<QTextEdit *>("textLog");
  }
  // Whether hardware errors can be watched depends on this machine's kernel:
  // that line is left out.
  static QStringList log(Vorsk &w) {
    QStringList all = logPane(w)->toPlainText().split('\n');
    all.erase(std::remove_if(all.begin(), all.end(),
                             [](const QString &line) {
                               return line.startsWith("Erreurs matérielles");
                             }),
              all.end());
    return all;
  }

private slots:
  void initTestCase() { previous = setPlatform(&linuxPlatform()); }
  void cleanupTestCase() { setPlatform(previous); }
  void init() {
    QFile::remove("Vorsk.ini");
    // This machine's own sensors, if any, are no part of these runs.
    QSettings("Vorsk.ini", QSettings::IniFormat).setValue("Monitoring", 0);
  }
  void cleanup() {
    setStopFlagLowByte(&bStopTest, 1);
    for (const QString &f :
         QDir().entryList({"started.*", "cpus.*", "Vorsk.ini", "Event.log",
                           RunJournal::fileName()}))
      QFile::remove(f);
    QVERIFY(noChildLeft());
  }

  void bothProcessorsBusyUntilStopped() {
    CpuSet processMask, systemMask;
    QVERIFY(platform().getProcessAffinityMask(&processMask, &systemMask));
    if (!processMask.contains(0) || !processMask.contains(1))
      QSKIP("processors 0 and 1 are not both available");
    QVERIFY(installWorker(install.path(), fixture("probe")));

    Vorsk w;
    m_SystemInfo.LogicalCount = 2;
    // The probe returns its argument: 0, stopped.
    w.Controller().Start(m_SystemInfo, 0);
    platform().sleep(1000);
    tick(w);
    QCOMPARE(pushTest(w)->text(), QString("Arrêter"));
    platform().sleep(1000);
    tick(w);
    QCOMPARE(stopFlagLowByte(&bStopTest), 0);
    for (int i = 0; i < 2; ++i)
      QVERIFY2(w.Controller().State().ThreadTime[i] > 0,
               "a worker got no processor");
    QVERIFY(w.Controller().CurrentTestTime() > QTime(0, 0));

    const std::vector<ThreadHandle> threads = w.Controller().State().hThread;
    pushTest(w)->click();
    for (ThreadHandle thread : threads) {
      QCOMPARE(platform().waitForThread(thread, 5000), WaitResult::Ended);
      uint32_t code = STILL_ACTIVE;
      QVERIFY(platform().getExitCodeThread(thread, &code));
      QCOMPARE(code, 0u);
    }
    QStringList ranOn;
    for (const QString &file : QDir().entryList({"cpus.*"}))
      ranOn << contents(file);
    ranOn.sort();
    QCOMPARE(ranOn, (QStringList{"1", "2"}));
    const QStringList all = log(w);
    const int duration =
        all.indexOf(QRegularExpression("^Durée du test : 00:00:0[2-9]$"));
    QVERIFY(duration > 0);
    QVERIFY(all[duration - 1].startsWith("Fréquence : "));
    QVERIFY(all[duration + 1].startsWith("Utilisation CPU : "));
    QVERIFY(all.contains("Test stoppé par l'utilisateur."));

    tick(w);
    QCOMPARE(pushTest(w)->text(), QString("Démarrer"));
    QVERIFY(pushTest(w)->isEnabled());
    for (int i = 0; i < 2; ++i)
      QCOMPARE(w.Controller().State().hThread[i], ThreadHandle(0));
  }

  // The crash fixture dies the way its argument says; 0 is a worker killed
  // from outside.
  void workerDeaths_data() {
    QTest::addColumn<int>("argument");
    QTest::addColumn<QStringList>("tail");
    QTest::addColumn<QString>("colour");
    const auto crashed = [](const char *name, int argument, const char *how) {
      QTest::newRow(name) << argument
                          << QStringList{QString("Le processeur 0 s'est arrêté "
                                                 "brutalement (%1).")
                                             .arg(how),
                                         "Votre PC n'est pas stable !"}
                          << "#F43";
    };
    crashed("SIGSEGV", 1, "SIGSEGV : accès mémoire invalide");
    crashed("SIGILL", 2, "SIGILL : instruction illégale");
    crashed("SIGBUS", 3, "SIGBUS : erreur de bus");
    crashed("SIGFPE", 4, "SIGFPE : exception arithmétique");
    crashed("abort", 5, "SIGABRT : arrêt anormal");
    QTest::newRow("SIGKILL from outside")
        << 0
        << QStringList{"Utilisation CPU : 0.0 %",
                       "Celle-ci doit être supérieur à 90% !",
                       "Calculs vérifiés : 0.0 Gflop",
                       "Le processus de test du processeur 0 a été arrêté de "
                       "l'extérieur (SIGKILL)."}
        << "#FB2";
  }
  void workerDeaths() {
    QFETCH(int, argument);
    QFETCH(QStringList, tail);
    QFETCH(QString, colour);
    QVERIFY(
        installWorker(install.path(), fixture(argument ? "crash" : "probe")));
    Vorsk w;
    m_SystemInfo.LogicalCount = 1;
    w.Controller().Start(m_SystemInfo, argument);
    const ThreadHandle worker = w.Controller().State().hThread[0];
    if (argument == 0) {
      const QList<pid_t> children = childProcesses();
      QCOMPARE(children.size(), 1);
      kill(children.first(), SIGKILL);
    }
    QCOMPARE(platform().waitForThread(worker, 10000), WaitResult::Ended);
    tick(w);

    const QStringList all = log(w);
    QCOMPARE(all.mid(all.size() - tail.size()), tail);
    QCOMPARE(logPane(w)->palette().color(QPalette::Base), QColor(colour));
    QVERIFY(w.isVisible());
    tick(w);
    QCOMPARE(w.Controller().State().hThread[0], ThreadHandle(0));
  }

  // Closing does not wait on an engine deaf to the stop flag: it is killed.
  void deafEngineKilledAtClosing() {
    QVERIFY(installWorker(install.path(), fixture("deaf")));
    Vorsk w;
    m_SystemInfo.LogicalCount = 2;
    pushTest(w)->click();
    tick(w);
    QCOMPARE(childProcesses().size(), 2);
    QElapsedTimer closing;
    closing.start();
    QVERIFY(w.close());
    qInfo("closed in %lld ms", closing.elapsed());
    QVERIFY(noChildLeft());
  }

  // Killed, the window leaves its run's journal, and the next start shows
  // the run as interrupted; asked to quit, it closes as the user would.
  void windowEndedDuringARun_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGKILL") << int(SIGKILL);
    QTest::newRow("SIGTERM") << int(SIGTERM);
  }
  void windowEndedDuringARun() {
    QFETCH(int, signal);
    QVERIFY(installWorker(install.path(), fixture("probe")));
    QProcess window;
    window.start(RUN_WINDOW, {install.path() + "/vorsk-worker"});
    QVERIFY(window.waitForReadyRead(30000));
    QCOMPARE(window.readAll().trimmed(), QByteArray("running"));
    kill(pid_t(window.processId()), signal);
    QVERIFY(window.waitForFinished(10000));
    const QString refused = "SetThreadAffinityMask failed.";
    if (signal == SIGTERM) {
      QCOMPARE(window.exitStatus(), QProcess::NormalExit);
      QVERIFY(!QFile::exists(RunJournal::fileName()));
      QVERIFY(contents("Event.log").contains(refused.toUtf8()));
      return;
    }
    QVERIFY(contents(RunJournal::fileName())
                .contains("L " + refused.toUtf8() + "\n"));

    Vorsk w;
    const QStringList all = log(w);
    QVERIFY(all.first().startsWith("Graine du test : "));
    QCOMPARE(all.at(1), refused);
    QVERIFY2(all.last().contains(QRegularExpression(
                 "^Le test précédent a été interrompu après 00:00:0[1-9] : "
                 "la machine s'est probablement figée ou a redémarré\\. Le "
                 "processeur doit être considéré comme instable\\.$")),
             qPrintable(all.last()));
    QCOMPARE(logPane(w)->palette().color(QPalette::Base), QColor("#F43"));
    QCOMPARE(QString::fromUtf8(contents("Event.log")),
             logPane(w)->toPlainText());
    QVERIFY(!QFile::exists(RunJournal::fileName()));
  }
};

QTEST_MAIN(RealRunTest)
#include "tst_realrun.moc"

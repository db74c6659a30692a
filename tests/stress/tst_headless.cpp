#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// vorsk --headless as a scheduler runs it: a real process with no display,
// its workers running a fixture engine, judged by its exit code and its
// report read with a JSON parser.
class HeadlessTest : public QObject {
  Q_OBJECT

  QTemporaryDir install;
  QTemporaryDir work;
  QTemporaryDir dataHome; // XDG_DATA_HOME: the user's data folder is in it
  QString program;

  // The verdict a run that ended on its own earns from its usage line.
  // From this run's usage line: the last one, after any of a replayed run.
  static int plausibleOrUsage(const QStringList &log) {
    for (auto it = log.rbegin(); it != log.rend(); ++it)
      if (const QString &line = *it; line.startsWith("Utilisation CPU : ")) {
        const double usage = line.split(' ')[3].toDouble();
        return usage >= 90.0 && usage <= 100.0 ? 0 : 2;
      }
    return -1;
  }

private slots:
  void initTestCase() {
    program = install.filePath("vorsk");
    QVERIFY(QFile::copy(VORSK_PROGRAM, program));
    QVERIFY(QFile::copy(WORKER_PROGRAM, install.filePath("vorsk-worker")));
    QVERIFY(QFile::copy(FIXTURE_DIR "/scripted.so",
                        install.filePath("Burnmod.so")));
  }
  void init() {
    // A Vorsk.ini makes the test's folder the data folder; no sensor of
    // this machine takes part, in either folder.
    for (const QString &folder : {work.path(), dataHome.filePath("vorsk")})
      QSettings(folder + "/Vorsk.ini", QSettings::IniFormat)
          .setValue("Monitoring", 0);
  }
  void cleanup() {
    for (const QString &folder : {work.path(), dataHome.filePath("vorsk")})
      for (const QString &f : QDir(folder).entryList(QDir::Files))
        QFile::remove(folder + '/' + f);
  }

  void run_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("fixtureEnd");
    QTest::addColumn<bool>("interrupt");
    // -1: 0 or 2 as the run's usage line says.
    QTest::addColumn<int>("exitCode");
    // Empty when no run takes place and no report is written.
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("workerEnd"); // "resultCode=1", "signal=11"
    QTest::addColumn<QString>("output");    // in stdout or stderr
    // The journal a run that never ended left in the folder, if any.
    QTest::addColumn<QByteArray>("journal");
    // The folder it starts in may be written by others: its files are
    // ignored, the report and the log still go there.
    QTest::addColumn<bool>("shared");

    const QStringList run = {"--headless", "--report", "report.json", "--log",
                             "run.log"};
    QTest::newRow("stable run, after a run that froze the machine")
        << run + QStringList{"--duration", "2"} << "" << false << -1 << "stable"
        << "resultCode=0"
        << "Utilisation CPU : 12.0 %\nLe test précédent a été interrompu après "
           "00:07:00"
        << QByteArray("L Utilisation CPU : 12.0 %\nT 00:07:00\n") << false;
    // A worker's end the run cannot pass.
    const auto unstable = [&](const char *name, const QStringList &more,
                              const char *fixtureEnd, const char *workerEnd,
                              const char *output) {
      QTest::newRow(name) << run + QStringList{"--duration", "60"} + more
                          << fixtureEnd << false << 1 << "unstable" << workerEnd
                          << output << QByteArray() << false;
    };
    unstable("calculation error", {}, "code:1", "resultCode=1",
             "a généré une erreur de calcul.");
    unstable("AES unit failure names its workload", {"--load", "full"},
             "code:12", "resultCode=12", "(AES).");
    unstable("crashed worker", {}, "signal:11", "signal=11",
             "s'est arrêté brutalement");
    QTest::newRow("interrupted")
        << run + QStringList{"--duration",  "0",      "--mode",
                             "alternating", "--load", "fp"}
        << "" << true << 130 << "interrupted"
        << "resultCode=0"
        << "Test stoppé par l'utilisateur." << QByteArray() << false;
    // Refused before any run, or answered without one: no report.
    const auto noRun = [](const char *name, const QStringList &arguments,
                          int exitCode, const char *output) {
      QTest::newRow(name) << arguments << "" << false << exitCode << ""
                          << "" << output << QByteArray() << false;
    };
    noRun("unknown mode", {"--headless", "--mode", "sideways"}, 3,
          "--mode takes all, per-core or alternating");
    noRun("unknown load", {"--headless", "--load", "integer"}, 3,
          "--load takes full or fp");
    noRun("duration not a number", {"--headless", "--duration", "1h"}, 3,
          "--duration takes a number of seconds");
    noRun("option without --headless", {"--duration", "60"}, 3,
          "apply to --headless only");
    QTest::newRow("relative paths, started in a folder others can write")
        << run + QStringList{"--duration", "2"} << "" << false << -1 << "stable"
        << "resultCode=0"
        << "modifiable par d'autres utilisateurs : ses fichiers sont ignorés"
        << QByteArray() << true;
    noRun("report in a folder that does not exist",
          {"--headless", "--report", "gone/report.json"}, 3,
          "the folder of the report ");
    noRun("report that is a folder",
          {"--headless", "--duration", "1", "--report", "."}, 3, "is a folder");
    noRun("help", {"--help"}, 0, "--mode <MODE>");
    noRun("version", {"--version"}, 0, "vorsk 1.0.4");
  }

  void run() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, fixtureEnd);
    QFETCH(bool, interrupt);
    QFETCH(int, exitCode);
    QFETCH(QString, verdict);
    QFETCH(QString, workerEnd);
    QFETCH(QString, output);
    QFETCH(QByteArray, journal);
    QFETCH(bool, shared);

    const QFile::Permissions own = QFile::permissions(work.path());
    QFile::setPermissions(work.path(), shared ? own | QFile::WriteOther : own);
    QFile frozen(
        work.filePath("Journal-" + QSysInfo::machineHostName() + ".log"));
    QVERIFY(journal.isEmpty() || (frozen.open(QIODevice::WriteOnly) &&
                                  frozen.write(journal) == journal.size()));
    frozen.close();
    QProcess vorsk;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No display of any kind, no runtime folder (cron, Slurm, su).
    for (const char *name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
      environment.remove(name);
    environment.insert("FIXTURE_END", fixtureEnd);
    environment.insert("XDG_DATA_HOME", dataHome.path());
    vorsk.setProcessEnvironment(environment);
    vorsk.setWorkingDirectory(work.path());
    vorsk.start(program, arguments);
    QVERIFY(vorsk.waitForStarted());
    if (interrupt) {
      QTRY_VERIFY_WITH_TIMEOUT(
          !QDir(work.path()).entryList({"started.*"}).isEmpty(), 60000);
      ::kill(pid_t(vorsk.processId()), SIGINT);
    }
    QVERIFY(vorsk.waitForFinished(120000));
    QFile::setPermissions(work.path(), own);
    QCOMPARE(vorsk.exitStatus(), QProcess::NormalExit);
    QVERIFY(!frozen.exists());
    const QString printed = QString::fromUtf8(vorsk.readAllStandardOutput());
    const QString complained = QString::fromUtf8(vorsk.readAllStandardError());
    QVERIFY2((printed + complained).contains(output), qPrintable(printed));

    QFile file(work.filePath("report.json"));
    if (verdict.isEmpty()) {
      QCOMPARE(vorsk.exitCode(), exitCode);
      QVERIFY(!file.exists());
      return;
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Standard error holds only what the user must read: nothing here.
    QCOMPARE(complained, QString());
    QJsonParseError error;
    const QJsonObject report =
        QJsonDocument::fromJson(file.readAll(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);

    // The log: every line printed, in order, and the same in --log's file.
    QStringList log;
    for (const QJsonValue &line : report["log"].toArray())
      log << line.toString();
    QCOMPARE(printed, log.join('\n') + '\n');
    QFile logFile(work.filePath("run.log"));
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(logFile.readAll()), printed);

    if (exitCode == -1)
      exitCode = plausibleOrUsage(log);
    QCOMPARE(vorsk.exitCode(), exitCode);
    QCOMPARE(report["exitCode"].toInt(), exitCode);
    QCOMPARE(report["verdict"].toString(),
             exitCode == 2 ? QString("usage") : verdict);
    QCOMPARE(report["version"].toString(), QString("1.0.4"));

    const QJsonObject machine = report["machine"].toObject();
    QVERIFY(!machine["processor"].toString().isEmpty());
    QVERIFY(QRegularExpression("^0x[0-9A-F]{8}$")
                .match(machine["signature"].toString())
                .hasMatch());
    QVERIFY(machine["instructionSets"].toArray().contains("SSE2"));
    const QJsonObject topology = machine["topology"].toObject();
    QVERIFY(topology["packages"].toInt() >= 1);
    QVERIFY(topology["coresPerPackage"].toInt() >= 1);
    const QJsonArray tested = topology["testedProcessors"].toArray();
    QVERIFY(!tested.isEmpty());
    QVERIFY(machine["l2"].toObject().contains("totalKb"));
    QVERIFY(machine["frequencyAtRestMHz"].toDouble() > 0);

    const QJsonObject run = report["run"].toObject();
    const int mode = arguments.indexOf("--mode");
    QCOMPARE(run["mode"].toString(),
             mode < 0 ? QString("all") : arguments.at(mode + 1));
    const int load = arguments.indexOf("--load");
    const bool fpOnly = load >= 0 && arguments.at(load + 1) == "fp";
    QCOMPARE(run["load"].toString(), QString(fpOnly ? "fp" : "full"));
    QCOMPARE(run["priority"].toString(), QString("normal"));
    QCOMPARE(run["requestedSeconds"].toInt(),
             arguments[arguments.indexOf("--duration") + 1].toInt());
    const QDateTime start =
        QDateTime::fromString(run["start"].toString(), Qt::ISODate);
    const QDateTime end =
        QDateTime::fromString(run["end"].toString(), Qt::ISODate);
    QVERIFY(run["start"].toString().endsWith('Z'));
    QVERIFY(start.isValid() && end >= start);
    QVERIFY(run["actualSeconds"].toDouble() <= start.secsTo(end));

    // One worker per processor tested, in their order; the row's end is
    // found on at least one.
    const QJsonArray workers = report["workers"].toArray();
    QCOMPARE(workers.size(), tested.size());
    const QStringList expectedEnd = workerEnd.split('=');
    bool found = false;
    for (int i = 0; i < workers.size(); ++i) {
      const QJsonObject worker = workers[i].toObject();
      QCOMPARE(worker["logicalProcessor"], tested[i]);
      QVERIFY(worker["core"].toInt() >= 0 && worker["package"].toInt() >= 0);
      QCOMPARE(worker["verifiedFlop"].toObject(),
               QJsonObject({{"SSE2", 1000}, {"AVX2+FMA", 2000}}));
      // The load reached the engine, and its other workloads' work the
      // report.
      QCOMPARE(worker["verifiedWork"].toObject(),
               fpOnly ? QJsonObject()
                      : QJsonObject({{"aes", QJsonObject({{"bytes", 4096}})}}));
      found =
          found || worker[expectedEnd[0]].toInt(-1) == expectedEnd[1].toInt();
    }
    QVERIFY2(found, qPrintable(workerEnd));
    QCOMPARE(report["sensors"].toArray().size(), 0);
    QVERIFY(report["hardwareErrors"].toObject()["watched"].isBool());
    QVERIFY(report["hardwareErrors"].toObject()["rises"].isArray());
  }
};

QTEST_GUILESS_MAIN(HeadlessTest)
#include "tst_headless.moc"

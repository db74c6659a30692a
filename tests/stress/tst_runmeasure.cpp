#include "stress/EngineContract.h"
#include "stress/RunMeasure.h"

#include <QtTest>

namespace {
const uint64_t MS = 10000; // 100-ns units in a millisecond
}

class RunMeasureTest : public QObject {
  Q_OBJECT

private slots:
  void workerUsage_data() {
    QTest::addColumn<qint64>("wallMs");
    QTest::addColumn<quint64>("userMs");
    QTest::addColumn<qint64>("creditedMs");
    QTest::addColumn<double>("percent");
    QTest::newRow("full second")
        << qint64(1000) << quint64(1000) << qint64(1000) << 100.0;
    QTest::newRow("half a second of two")
        << qint64(2000) << quint64(1000) << qint64(2000) << 50.0;
    QTest::newRow("idle worker")
        << qint64(1000) << quint64(0) << qint64(1000) << 0.0;
    QTest::newRow("more processor than wall time")
        << qint64(1000) << quint64(1010) << qint64(1010) << 100.0;
    QTest::newRow("no wall time")
        << qint64(0) << quint64(30) << qint64(30) << 100.0;
    QTest::newRow("clock went back")
        << qint64(-5) << quint64(20) << qint64(20) << 100.0;
    QTest::newRow("ten seconds short still counts")
        << qint64(11000) << quint64(1000) << qint64(11000) << 1000.0 / 110.0;
    QTest::newRow("a minute asleep is not test time")
        << qint64(61000) << quint64(1000) << qint64(1000) << 100.0;
  }
  void workerUsage() {
    QFETCH(qint64, wallMs);
    QFETCH(quint64, userMs);
    QFETCH(qint64, creditedMs);
    QFETCH(double, percent);
    const WorkerUsage usage = MeasureWorker(wallMs, userMs * MS);
    QCOMPARE(usage.creditedMs, creditedMs);
    QCOMPARE(usage.percent, percent);
  }

  void averageUsageAndItsBounds_data() {
    QTest::addColumn<quint64>("userTime");
    QTest::addColumn<bool>("plausible");
    QTest::addColumn<QString>("shown");
    // One hour of test time on two workers.
    QTest::newRow("exactly 90.0") << quint64(64800000000) << true << "90.0";
    QTest::newRow("exactly 100.0") << quint64(72000000000) << true << "100.0";
    QTest::newRow("89.99") << quint64(64792800000) << false << "90.0";
    QTest::newRow("100.01") << quint64(72007200000) << false << "100.0";
  }
  void averageUsageAndItsBounds() {
    QFETCH(quint64, userTime);
    QFETCH(bool, plausible);
    QFETCH(QString, shown);
    const double usage = AverageUsage(userTime, 3600000, 2);
    QCOMPARE(UsagePlausible(usage), plausible);
    QCOMPARE(QString::asprintf("%.1f", usage), shown);
  }

  void emptyRunHasNoUsage() {
    QCOMPARE(AverageUsage(123456, 0, 2), 0.0);
    QCOMPARE(AverageUsage(123456, 1000, 0), 0.0);
    QVERIFY(!UsagePlausible(0.0));
  }

  void elapsedText_data() {
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing yet") << 0 << "0 seconde";
    QTest::newRow("one second") << 1 << "1 seconde";
    QTest::newRow("59 s") << 59 << "59 secondes";
    QTest::newRow("60 s") << 60 << "1 minute 0 seconde";
    QTest::newRow("12 min 1 s") << 721 << "12 minutes 1 seconde";
    QTest::newRow("3601 s") << 3601 << "1 heure 0 minute 1 seconde";
    QTest::newRow("3605 s") << 3605 << "1 heure 0 minute 5 secondes";
    QTest::newRow("7322 s") << 7322 << "2 heures 2 minutes 2 secondes";
  }
  void elapsedText() {
    QFETCH(int, seconds);
    QFETCH(QString, text);
    const QTime time = QTime(0, 0).addSecs(seconds).addMSecs(999);
    QCOMPARE(ElapsedText(time), text);
    QCOMPARE(TestMilliseconds(time), qint64(seconds) * 1000 + 999);
  }

  void workerEnds_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<bool>("calculation");
    QTest::addColumn<QString>("line");
    QTest::newRow("stopped") << 0u << false << false << QString();
    QTest::newRow("nothing to report") << 7u << false << false << QString();
    for (uint code : {1u, 2u, 3u, 4u})
      QTest::addRow("calculation error %u", code)
          << code << true << true
          << "Le processeur 3 a généré une erreur de calcul.";
    QTest::newRow("allocation")
        << 5u << true << false << "Thread 3 : erreur d'allocation mémoire.";
    QTest::newRow("initialisation")
        << 6u << true << false << "Thread 3 : erreur d'initialisation.";
    QTest::newRow("identifier")
        << 8u << true << false << "Thread 3 : identifiant incorrect.";
    QTest::newRow("file names the engine itself")
        << 9u << true << false
        << "Thread 3 : erreur d'accès au fichier " ENGINE_FILE ".";
    QTest::newRow("unknown code")
        << 42u << true << false << "Le thread 3 a généré une erreur (code 42).";
    QTest::newRow("unsigned code") << 0xFFFFFFFFu << true << false
                                   << "Le thread 3 a généré une erreur (code "
                                      "4294967295).";
  }
  void workerEnds() {
    QFETCH(uint, code);
    QFETCH(bool, reported);
    QFETCH(bool, calculation);
    QFETCH(QString, line);
    const WorkerEnd end = DescribeWorkerEnd(3, code);
    QCOMPARE(end.reported, reported);
    QCOMPARE(end.calculation, calculation);
    QCOMPARE(end.line, line);
  }
};

QTEST_GUILESS_MAIN(RunMeasureTest)
#include "tst_runmeasure.moc"

#include "stress/RunMeasure.h"
#include "stress/VerifiedArithmetic.h"

#include <QtTest>

namespace {
const uint64_t MS = 10000; // 100-ns units in a millisecond
}

class RunMeasureTest : public QObject {
  Q_OBJECT

private slots:
  void workerUsage_data() {
    QTest::addColumn<int>("wallMs");
    QTest::addColumn<int>("userMs");
    QTest::addColumn<int>("creditedMs");
    QTest::addColumn<double>("percent");
    QTest::newRow("full second") << 1000 << 1000 << 1000 << 100.0;
    QTest::newRow("half a second of two") << 2000 << 1000 << 2000 << 50.0;
    QTest::newRow("idle worker") << 1000 << 0 << 1000 << 0.0;
    QTest::newRow("more processor than wall time")
        << 1000 << 1010 << 1010 << 100.0;
    QTest::newRow("no wall time") << 0 << 30 << 30 << 100.0;
    QTest::newRow("clock went back") << -5 << 20 << 20 << 100.0;
    QTest::newRow("ten seconds short still counts")
        << 11000 << 1000 << 11000 << 1000.0 / 110.0;
    QTest::newRow("a minute asleep is not test time")
        << 61000 << 1000 << 1000 << 100.0;
  }
  void workerUsage() {
    QFETCH(int, wallMs);
    QFETCH(int, userMs);
    QFETCH(int, creditedMs);
    QFETCH(double, percent);
    const WorkerUsage usage = MeasureWorker(wallMs, uint64_t(userMs) * MS);
    QCOMPARE(usage.creditedMs, qint64(creditedMs));
    QCOMPARE(usage.percent, percent);
  }

  void emptyRunHasNoUsage() {
    QCOMPARE(AverageUsage(123456, 0, 2), 0.0);
    QCOMPARE(AverageUsage(123456, 1000, 0), 0.0);
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

  // The controller's run table covers codes 0, 3, 5, 7, 9 and 42.
  void workerEnds_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<bool>("calculation");
    QTest::addColumn<QString>("line");
    for (uint code : {1u, 2u, 4u})
      QTest::addRow("calculation error %u", code)
          << code << true << "Le processeur 3 a généré une erreur de calcul.";
    QTest::newRow("AES unit names its workload")
        << 12u << true << "Erreur de calcul du processeur 3 (AES).";
    QTest::newRow("last workload code")
        << 16u << true << "Erreur de calcul du processeur 3 (cache L3).";
    QTest::newRow("past the workloads' codes")
        << 18u << false << "Le thread 3 a généré une erreur (code 18).";
    QTest::newRow("initialisation")
        << 6u << false << "Thread 3 : erreur d'initialisation.";
    QTest::newRow("code above 2^31 stays unsigned")
        << 0xFFFFFFFFu << false
        << "Le thread 3 a généré une erreur (code 4294967295).";
  }
  void workerEnds() {
    QFETCH(uint, code);
    QFETCH(bool, calculation);
    QFETCH(QString, line);
    const WorkerEnd end = DescribeWorkerEnd(3, code);
    QVERIFY(end.reported);
    QCOMPARE(end.calculation, calculation);
    QCOMPARE(end.line, line);
  }

  // Counts narrowest path first: SSE2, AVX, AVX2+FMA, AVX-512F; then the
  // workloads' in WorkerWorkload order, when given.
  void verifiedArithmeticLine_data() {
    QTest::addColumn<QList<double>>("flops");
    QTest::addColumn<QString>("line");
    QTest::newRow("nothing verified")
        << QList<double>{0, 0, 0, 0} << "Calculs vérifiés : 0.0 Gflop";
    QTest::newRow("every path, widest first")
        << QList<double>{0.1e12, 0.1e12, 0.2e12, 12.0e12}
        << "Calculs vérifiés : 12.4 Tflop (AVX-512F 97 %, AVX2+FMA 2 %, AVX "
           "1 %, SSE2 1 %)";
    QTest::newRow("rounds up into the next unit, a trace share")
        << QList<double>{0.46e9, 0, 999.5e9, 0}
        << "Calculs vérifiés : 1.0 Tflop (AVX2+FMA 100 %, SSE2 < 1 %)";
    QTest::newRow("petaflops have no larger unit")
        << QList<double>{0, 0, 0, 2.5e18}
        << "Calculs vérifiés : 2500.0 Pflop (AVX-512F 100 %)";
    QTest::newRow("every workload in its own unit")
        << QList<double>{0,      0,   1e12,  0,   12.3e9, 999.94e6,
                         45.6e9, 7e9, 2.5e6, 3e9, 567.8e9}
        << "Calculs vérifiés : 1.0 Tflop (AVX2+FMA 100 %) ; entiers "
           "vectoriels 12.3 G opérations, entiers 999.9 M opérations, AES "
           "45.6 Go, SHA-256 7.0 Go, multiplication sans retenue 2.5 M "
           "produits, division et racine carrée 3.0 G opérations, cache L3 "
           "567.8 Go";
  }
  void verifiedArithmeticLine() {
    QFETCH(QList<double>, flops);
    QFETCH(QString, line);
    WorkerCounters total;
    for (int p = 0; p < WORKER_PATH_COUNT; ++p)
      total.verifiedFlops[p] = uint64_t(flops[p]);
    for (int w = 0; w + WORKER_PATH_COUNT < flops.size(); ++w)
      total.verifiedWork[w] = uint64_t(flops[WORKER_PATH_COUNT + w]);
    QCOMPARE(VerifiedArithmeticLine(total), line);
  }
};

QTEST_GUILESS_MAIN(RunMeasureTest)
#include "tst_runmeasure.moc"

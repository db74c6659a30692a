#include "sensors/MonitoringLog.h"
#include "sensors/SensorSources.h"

#include <QtTest>

namespace {

QByteArray logText() {
  QFile file("Monitoring.txt");
  if (!file.open(QIODevice::ReadOnly))
    return "<missing>";
  return file.readAll();
}

// Lines numbered first..last of a run whose sample k reads 40 + k/100 °C and
// 1.2 V.
QByteArray expectedLines(int first, int last) {
  QByteArray text;
  for (int k = first; k <= last; ++k)
    text += QString::asprintf("%d\t%.2f\t1.200\n", k, 40 + (k - 1) / 100.0)
                .toLatin1();
  return text;
}

void addRun(MonitoringLog &log, int from, int to) {
  for (int n = from; n < to; ++n)
    log.AddSample(40 + n / 100.0 + 0.001, 1.2, n, SOURCE_SYSTOOL);
}

} // namespace

class TestMonitoringLog : public QObject {
  Q_OBJECT

private slots:
  void cleanup() { QFile::remove("Monitoring.txt"); }

  void convertsFields_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("field");
    QTest::newRow("temperature truncated toward zero")
        << 45.678 << 100.0 << 4567;
    QTest::newRow("negative truncated toward zero") << -5.509 << 100.0 << -550;
    QTest::newRow("voltage in thousandths") << 1.3456 << 1000.0 << 1345;
    QTest::newRow("no reading") << NO_READING << 100.0 << -32768;
    QTest::newRow("327.68 °C does not fit") << 327.68 << 100.0 << -32768;
    QTest::newRow("327.67 °C fits") << 327.67 << 100.0 << 32767;
    QTest::newRow("32.768 V does not fit") << 32.768 << 1000.0 << -32768;
    QTest::newRow("-327.68 °C fits") << -327.68 << 100.0 << -32768;
    QTest::newRow("-400 °C does not fit") << -400.0 << 100.0 << -32768;
    QTest::newRow("not a number")
        << std::numeric_limits<double>::quiet_NaN() << 100.0 << -32768;
  }

  void convertsFields() {
    QFETCH(double, value);
    QFETCH(double, scale);
    QFETCH(int, field);
    QCOMPARE(int(sampleField(value, scale)), field);
  }

  void writesBlocksAndRemainder() {
    MonitoringLog log;

    // 5 samples: nothing until the end of the run.
    addRun(log, 0, 5);
    QCOMPARE(logText(), QByteArray("<missing>"));
    log.WriteRemainder(5, SOURCE_SYSTOOL);
    QCOMPARE(logText(), expectedLines(1, 5));

    // 240 samples: written at the 240th, nothing at the end.
    addRun(log, 0, 239);
    QCOMPARE(logText(), expectedLines(1, 5));
    addRun(log, 239, 240);
    QCOMPARE(logText(), expectedLines(1, 240));
    log.WriteRemainder(240, SOURCE_SYSTOOL);
    QCOMPARE(logText(), expectedLines(1, 240));

    // 245 samples: the block, then 241..245 appended.
    addRun(log, 0, 245);
    QCOMPARE(logText(), expectedLines(1, 240));
    log.WriteRemainder(245, SOURCE_SYSTOOL);
    QCOMPARE(logText(), expectedLines(1, 245));

    // A second run of 3 replaces the first.
    addRun(log, 0, 3);
    log.WriteRemainder(3, SOURCE_SYSTOOL);
    QCOMPARE(logText(), expectedLines(1, 3));

    // Blocks after the first append.
    addRun(log, 0, 490);
    log.WriteRemainder(490, SOURCE_SYSTOOL);
    QCOMPARE(logText(), expectedLines(1, 490));

    // A run without samples leaves an empty file.
    log.WriteRemainder(0, SOURCE_SYSTOOL);
    QCOMPARE(logText(), QByteArray());
  }

  void formatsLines_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<double>("vcore");
    QTest::addColumn<QByteArray>("lastLine");
    QTest::newRow("source 1 truncates both values")
        << 1 << 45.678 << 1.3456 << QByteArray("7\t45.67\t1.345\n");
    QTest::newRow("source 5 has two columns")
        << 5 << 51.0 << NO_READING << QByteArray("7\t51.00\n");
    QTest::newRow("source 6 has two columns")
        << 6 << 38.0 << NO_READING << QByteArray("7\t38.00\n");
    QTest::newRow("missing voltage reads -32.768")
        << 1 << 45.0 << NO_READING << QByteArray("7\t45.00\t-32.768\n");
    QTest::newRow("negative temperature")
        << 4 << -5.5 << 1.1 << QByteArray("7\t-5.50\t1.100\n");
  }

  void formatsLines() {
    QFETCH(int, source);
    QFETCH(double, temperature);
    QFETCH(double, vcore);
    QFETCH(QByteArray, lastLine);
    MonitoringLog log;
    for (int n = 0; n < 7; ++n)
      log.AddSample(temperature, vcore, n, source);
    log.WriteRemainder(7, source);
    QList<QByteArray> lines = logText().split('\n');
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines[6] + '\n', lastLine);
  }

  void unwritableFileLosesTheBlockSilently() {
    QVERIFY(QDir().mkdir("Monitoring.txt"));
    MonitoringLog log;
    addRun(log, 0, 240);
    QVERIFY(QDir().rmdir("Monitoring.txt"));
    addRun(log, 240, 245);
    log.WriteRemainder(245, SOURCE_SYSTOOL);
    QCOMPARE(logText(), expectedLines(241, 245));
  }
};

QTEST_GUILESS_MAIN(TestMonitoringLog)
#include "tst_monitoringlog.moc"

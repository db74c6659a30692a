#include "Publisher.h"

#include "app/Vorsk.h"
#include "platform/EngineContract.h"
#include "platform/fake/FakePlatform.h"
#include "stress/ThreadStress.h"

#include <QSettings>
#include <QtTest>

// The sensor tick and the end of a run as the main window runs them.
class VorskSensorsTest : public QObject {
  Q_OBJECT

  static void store(const QString &key, const QVariant &value) {
    QSettings settings("Vorsk.ini", QSettings::IniFormat);
    settings.setValue(key, value);
  }

private slots:
  void cleanup() {
    setStopFlagLowByte(&bStopTest, 1);
    QFile::remove("Vorsk.ini");
    QFile::remove("Monitoring.txt");
  }

  void tickAndEndOfRun() {
    store("Monitoring", 2);
    store("TempSensor", 0);
    store("VoltSensor", 0);
    store("MaxTemp", 50);
    store("ExportTXT", true);
    FakePlatformScope scope;
    Vorsk w;
    QVERIFY(w.Run.SensorTimer != 0);

    // Idle: shown, not counted, the limit not tested.
    scope.fake.publish("SFSharedMemory_ALM", speedFanBytes({5500}, {130}));
    QVERIFY(!w.Run.SensorTick());
    QCOMPARE(w.ui.labelTemperature->text(), QString("55.0 °C"));
    QCOMPARE(w.ui.labelVcore->text(), QString("1.30 V"));
    QCOMPARE(w.Run.SampleCount, 0);

    setStopFlagLowByte(&bStopTest, 0);
    scope.fake.publish("SFSharedMemory_ALM", speedFanBytes({4500}, {130}));
    QVERIFY(!w.Run.SensorTick());
    scope.fake.publish("SFSharedMemory_ALM", speedFanBytes({5000}, {130}));
    QVERIFY(w.Run.SensorTick());
    QCOMPARE(w.Run.SampleCount, 2);

    setStopFlagLowByte(&bStopTest, 1);
    w.ui.textLog->clear();
    w.Run.SensorRunEnded();
    QCOMPARE(w.ui.textLog->toPlainText(),
             QString("Vcore : 1.30 V (1.30 à 1.30)\n"
                     "T° CPU : 47.5 °C (45.0 à 50.0)"));
    QFile log("Monitoring.txt");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), QByteArray("1\t45.00\t1.300\n2\t50.00\t1.300\n"));
    QCOMPARE(w.Run.SampleCount, 0);
    QCOMPARE(w.Run.Temperature, NO_READING);
  }

  void noSourceStartsNoTimer() {
    FakePlatformScope scope;
    Vorsk w;
    QCOMPARE(w.Run.SensorTimer, 0);
    QCOMPARE(w.Run.GetSensorsValue(), 0);
    w.Run.SensorRunEnded();
    QCOMPARE(w.ui.textLog->toPlainText(), QString());
  }
};

QTEST_MAIN(VorskSensorsTest)
#include "tst_vorsksensors.moc"

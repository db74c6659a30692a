#include "settings/SettingsFile.h"
#include "settings/SettingsKeys.h"

#include <QFile>
#include <QPoint>
#include <QSettings>
#include <QSize>
#include <QtTest>

// What survives a trip through Vorsk.ini matters more than what was written:
// INI keeps no type for plain values, only for sizes and points.
class SettingsTest : public QObject {
  Q_OBJECT

private slots:
  void init() { QFile::remove(SETTINGS_FILE); }
  void cleanup() { QFile::remove(SETTINGS_FILE); }

  void defaultsWithoutFile() {
    QSettings s(SETTINGS_FILE, QSettings::IniFormat);
    QCOMPARE(s.value("MaxTemp", DEFAULT_MAXTEMP).toInt(), -70);
    QVERIFY(!s.value("TempSensor", QVariant()).isValid());
    QVERIFY(!s.value("Size").toSize().isValid());
    QCOMPARE(s.value("Position", QPoint(-1, -1)).toPoint(), QPoint(-1, -1));
    QCOMPARE(s.value("Pseudo", DEFAULT_PSEUDO).toString(), QString("Anonyme"));
    QVERIFY(!QFile::exists(SETTINGS_FILE));
  }

  void everyKeyTypeRoundTrips() {
    {
      QSettings s(SETTINGS_FILE, QSettings::IniFormat);
      s.setValue("AutoStart", true);
      s.setValue("MaxTemp", -85);
      s.setValue("SuccesSound", "Tada.wav");
      s.setValue("TempSensor", 3);
      s.setValue("VoltSensor", "CPU Core");
      s.setValue("Size", QSize(410, 523));
      s.setValue("Position", QPoint(-20, 15));
      s.sync();
    }
    QSettings s(SETTINGS_FILE, QSettings::IniFormat);
    QCOMPARE(s.value("AutoStart", false).toBool(), true);
    QCOMPARE(s.value("MaxTemp", DEFAULT_MAXTEMP).toInt(), -85);
    QCOMPARE(s.value("SuccesSound", DEFAULT_SOUND).toString(),
             QString("Tada.wav"));
    // An index comes back as text; its readers convert it.
    QCOMPARE(s.value("TempSensor").toInt(), 3);
    QCOMPARE(s.value("VoltSensor").toString(), QString("CPU Core"));
    QCOMPARE(s.value("Size").toSize(), QSize(410, 523));
    QCOMPARE(s.value("Position", QPoint(-1, -1)).toPoint(), QPoint(-20, 15));
  }

  // Hand-edited values: only true/false and integers are booleans, and an
  // integer key that holds anything else keeps its default.
  void handEditedValues_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<int>("number");
    QTest::newRow("true in capitals") << QByteArray("TRUE") << true << -70;
    QTest::newRow("false in mixed case") << QByteArray("False") << false << -70;
    QTest::newRow("English no") << QByteArray("no") << false << -70;
    QTest::newRow("French yes") << QByteArray("oui") << false << -70;
    QTest::newRow("off") << QByteArray("off") << false << -70;
    QTest::newRow("empty") << QByteArray("") << false << -70;
    QTest::newRow("one") << QByteArray("1") << true << 1;
    QTest::newRow("zero") << QByteArray("0") << false << 0;
    QTest::newRow("negative") << QByteArray("-85") << true << -85;
    QTest::newRow("decimal") << QByteArray("70.5") << false << -70;
    QTest::newRow("number then text") << QByteArray("80abc") << false << -70;
    QTest::newRow("beyond int") << QByteArray("99999999999") << true << -70;
    QTest::newRow("list") << QByteArray("1, 0") << false << -70;
  }
  void handEditedValues() {
    QFETCH(QByteArray, text);
    QFile f(SETTINGS_FILE);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[General]\nKey=" + text + "\n");
    // QSettings keeps a parsed file while its size and time stay the same.
    static int rows = 0;
    f.flush();
    f.setFileTime(QDateTime::currentDateTime().addSecs(++rows),
                  QFileDevice::FileModificationTime);
    f.close();
    const auto s = openSettings();
    QTEST(readBool(*s, "Key", true), "yes");
    QTEST(readInt(*s, "Key", -70), "number");
    QCOMPARE(readBool(*s, "Missing", true), true);
    QCOMPARE(readInt(*s, "Missing", -70), -70);
  }

  void utf8ValuesSurviveAWrite() {
    const QByteArray name = QString::fromUtf8("Réussite ☺.wav").toUtf8();
    QFile f(SETTINGS_FILE);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[General]\nSuccesSound=" + name + "\n");
    f.close();
    {
      const auto s = openSettings();
      QCOMPARE(s->value("SuccesSound").toString(), QString::fromUtf8(name));
      s->setValue("FailedSound", QString::fromUtf8("Échec.wav"));
    }
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray written = f.readAll();
    QVERIFY2(written.contains("SuccesSound=" + name), written);
    QVERIFY2(written.contains("FailedSound=" +
                              QString::fromUtf8("Échec.wav").toUtf8()),
             written);
  }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"

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

  void valuesThatDoNotConvert() {
    QFile f(SETTINGS_FILE);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[General]\nPriority=abc\nMonitoring=-1\n");
    f.close();
    QSettings s(SETTINGS_FILE, QSettings::IniFormat);
    QCOMPARE(s.value("Priority", DEFAULT_PRIORITY).toInt(), 0);
    QCOMPARE(s.value("Monitoring", DEFAULT_MONITORING).toInt(), -1);
  }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"

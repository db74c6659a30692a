#include "app/Vorsk.h"
#include "platform/fake/FakePlatform.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QtTest>

class VorskTest : public QObject {
  Q_OBJECT

  static Ui_VorskClass &ui(Vorsk &w) { return w.ui; }

  static QPoint centred(const QSize &size) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    return {(area.left() + area.right()) / 2 - size.width() / 2,
            (area.top() + area.bottom()) / 2 - size.height() / 2};
  }

  static void store(const QString &key, const QVariant &value) {
    QSettings settings("Vorsk.ini", QSettings::IniFormat);
    settings.setValue(key, value);
  }

private slots:
  void init() { QFile::remove("Vorsk.ini"); }
  void cleanup() { QFile::remove("Vorsk.ini"); }

  void opensWithDefaultsWithoutSettingsFile() {
    FakePlatformScope scope;
    scope.fake.priorityClass = 0;
    Vorsk w;
    QCOMPARE(w.size(), QSize(410, 423));
    QCOMPARE(w.pos(), centred(w.size()));
    QCOMPARE(ui(w).comboPriority->currentText(), QString(" Normale"));
    QCOMPARE(ui(w).comboDuration->currentText(), QString("  Manuelle"));
    QCOMPARE(scope.fake.priorityClass, uint32_t(NORMAL_PRIORITY_CLASS));
    QCOMPARE(w.SensorTimer, 0);
    QCOMPARE(w.TestTimer, 0);
    QCOMPARE(w.MaxTemp, -70);
    QCOMPARE(w.SuccesSound, QString("Aucun"));
    QCOMPARE(w.FailedSound, QString("Aucun"));
    QVERIFY(!w.AutoStart && !w.Shutdown && !w.ExportTXT);
    QVERIFY(!w.TempSensor.isValid() && !w.VoltSensor.isValid());
    QCOMPARE(ui(w).labelBar->text(), QString("0.0%"));
    QCOMPARE(ui(w).barCPU->value(), 80);
    QCOMPARE(ui(w).textLog->toPlainText(), QString());
    QCOMPARE(w.windowFlags() & Qt::WindowMinimizeButtonHint,
             Qt::WindowMinimizeButtonHint);
  }

  void choicesKeepTheirLeadingBlanksAndData() {
    FakePlatformScope scope;
    Vorsk w;
    QComboBox *priority = ui(w).comboPriority;
    QCOMPARE(priority->count(), 3);
    QCOMPARE(priority->itemText(0), QString(" Haute"));
    QCOMPARE(priority->itemData(0).toUInt(), 0x8000u);
    QCOMPARE(priority->itemData(2).toUInt(), 0x4000u);
    QComboBox *duration = ui(w).comboDuration;
    QCOMPARE(duration->count(), 10);
    QCOMPARE(duration->itemText(1), QString("  1 heure"));
    QCOMPARE(duration->itemText(6), QString("  8 heures"));
    QCOMPARE(duration->itemText(7), QString(" 12 heures"));
    QCOMPARE(duration->itemData(9).toInt(), 72000);
  }

  void storedIndexesOutOfRange_data() {
    QTest::addColumn<int>("priority");
    QTest::addColumn<int>("duration");
    QTest::addColumn<int>("monitoring");
    QTest::addColumn<int>("expectedPriority");
    QTest::addColumn<int>("expectedDuration");
    QTest::addColumn<int>("expectedMonitoring");
    QTest::newRow("all in range") << 0 << 9 << 0 << 0 << 9 << 0;
    QTest::newRow("above the choices") << 3 << 10 << 7 << 1 << 0 << 0;
    QTest::newRow("negative") << -1 << -1 << -1 << 1 << 0 << 0;
  }
  void storedIndexesOutOfRange() {
    QFETCH(int, priority);
    QFETCH(int, duration);
    QFETCH(int, monitoring);
    store("Priority", priority);
    store("Duration", duration);
    store("Monitoring", monitoring);
    FakePlatformScope scope;
    Vorsk w;
    QFETCH(int, expectedPriority);
    QFETCH(int, expectedDuration);
    QFETCH(int, expectedMonitoring);
    QCOMPARE(w.Priority, expectedPriority);
    QCOMPARE(ui(w).comboPriority->currentIndex(), expectedPriority);
    QCOMPARE(w.Duration, expectedDuration);
    QCOMPARE(ui(w).comboDuration->currentIndex(), expectedDuration);
    QCOMPARE(w.Monitoring, expectedMonitoring);
    QCOMPARE(w.SensorTimer, 0);
  }

  void sizeAndPosition_data() {
    QTest::addColumn<QVariant>("size");
    QTest::addColumn<QVariant>("position");
    QTest::addColumn<QSize>("expectedSize");
    QTest::addColumn<bool>("expectCentred");
    QTest::newRow("stored size below the minimum")
        << QVariant(QSize(200, 100)) << QVariant() << QSize(410, 423) << true;
    QTest::newRow("taller window kept")
        << QVariant(QSize(410, 600)) << QVariant(QPoint(20, 30))
        << QSize(410, 600) << false;
    QTest::newRow("wider or taller than the maximum")
        << QVariant(QSize(900, 900)) << QVariant() << QSize(410, 691) << true;
    QTest::newRow("position on no screen")
        << QVariant() << QVariant(QPoint(-5000, -5000)) << QSize(410, 423)
        << true;
    QTest::newRow("size that is no size")
        << QVariant("garbage") << QVariant(QPoint(-1, -1)) << QSize(410, 423)
        << true;
  }
  void sizeAndPosition() {
    QFETCH(QVariant, size);
    QFETCH(QVariant, position);
    QFETCH(QSize, expectedSize);
    QFETCH(bool, expectCentred);
    if (size.isValid())
      store("Size", size);
    if (position.isValid())
      store("Position", position);
    FakePlatformScope scope;
    Vorsk w;
    QCOMPARE(w.size(), expectedSize);
    QCOMPARE(w.pos(),
             expectCentred ? centred(expectedSize) : position.toPoint());
  }

  void durationChoiceSetsBarAndEnd() {
    FakePlatformScope scope;
    Vorsk w;
    w.on_comboDuration_activated(0);
    QCOMPARE(ui(w).barTest->maximum(), 59);
    QCOMPARE(w.EndTime, QTime(23, 59, 0));
    w.on_comboDuration_activated(9);
    QCOMPARE(w.Duration, 9);
    QCOMPARE(ui(w).barTest->maximum(), 72000);
    QCOMPARE(w.EndTime, QTime(20, 0, 0));
    w.on_comboDuration_activated(1);
    QCOMPARE(w.EndTime, QTime(1, 0, 0));
  }

  void priorityChoiceSetsTheProcessClass() {
    store("Priority", 2);
    FakePlatformScope scope;
    Vorsk w;
    QCOMPARE(scope.fake.priorityClass, uint32_t(BELOW_NORMAL_PRIORITY_CLASS));
    w.on_comboPriority_activated(0);
    QCOMPARE(w.Priority, 0);
    QCOMPARE(scope.fake.priorityClass, uint32_t(ABOVE_NORMAL_PRIORITY_CLASS));
    QVERIFY(ui(w).textLog->toPlainText().isEmpty());

    scope.fake.failAlways(FakePlatform::Op::SetPriorityClass);
    w.on_comboPriority_activated(1);
    QCOMPARE(w.Priority, 1);
    QCOMPARE(ui(w).textLog->toPlainText(),
             QString("Set Priority Class Error."));
  }
};

QTEST_MAIN(VorskTest)
#include "tst_vorsk.moc"

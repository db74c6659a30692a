#include "about/ModalCloser.h"
#include "app/Vorsk.h"
#include "platform/fake/FakePlatform.h"

#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QSettings>
#include <QTextEdit>
#include <QtTest>

class VorskTest : public QObject {
  Q_OBJECT

  static QComboBox *combo(Vorsk &w, const char *name) {
    return w.findChild<QComboBox *>(name);
  }
  // The choices in force, as the window keeps them when it closes.
  static QVariant kept(Vorsk &w, const QString &key) {
    w.close();
    return QSettings("Vorsk.ini", QSettings::IniFormat).value(key);
  }
  // A choice made in a box, as the user makes it.
  static void choose(QComboBox *box, int index) {
    box->setCurrentIndex(index);
    QMetaObject::invokeMethod(box, "activated", Q_ARG(int, index));
  }

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
  void init() { cleanup(); }
  void cleanup() {
    for (const char *name : {"Vorsk.ini", "Event.log"})
      if (!QFile::remove(name))
        QDir().rmdir(name);
  }

  void opensWithDefaultsWithoutSettingsFile() {
    FakePlatformScope scope;
    scope.fake.priorityClass = 0;
    Vorsk w;
    QCOMPARE(w.size(), QSize(410, 423));
    QCOMPARE(w.pos(), centred(w.size()));
    QCOMPARE(combo(w, "comboPriority")->currentText(), QString(" Normale"));
    QCOMPARE(combo(w, "comboDuration")->currentText(), QString("  Manuelle"));
    QCOMPARE(scope.fake.priorityClass, uint32_t(NORMAL_PRIORITY_CLASS));
    const RunController &run = w.Controller();
    QVERIFY(!run.SensorsReading());
    QVERIFY(!run.Running());
    QCOMPARE(run.MaxTemperature(), -70);
    QVERIFY(!run.Sensors().ExportTXT);
    QVERIFY(!run.Sensors().TempSensor.isValid() &&
            !run.Sensors().VoltSensor.isValid());
    QCOMPARE(w.findChild<QLabel *>("labelBar")->text(), QString("0.0%"));
    QCOMPARE(w.findChild<QProgressBar *>("barCPU")->value(), 80);
    QCOMPARE(w.findChild<QTextEdit *>("textLog")->toPlainText(), QString());
    QCOMPARE(w.windowFlags() & Qt::WindowMinimizeButtonHint,
             Qt::WindowMinimizeButtonHint);
    // The choices keep their leading blanks and their data.
    QComboBox *priority = combo(w, "comboPriority");
    QCOMPARE(priority->count(), 3);
    QCOMPARE(priority->itemText(0), QString(" Haute"));
    QCOMPARE(priority->itemData(0).toUInt(), 0x8000u);
    QCOMPARE(priority->itemData(2).toUInt(), 0x4000u);
    QComboBox *duration = combo(w, "comboDuration");
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
    QTest::newRow("above the choices") << 3 << 10 << 8 << 1 << 0 << 0;
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
    QCOMPARE(combo(w, "comboPriority")->currentIndex(), expectedPriority);
    QCOMPARE(combo(w, "comboDuration")->currentIndex(), expectedDuration);
    QCOMPARE(w.Controller().Sensors().Monitoring, expectedMonitoring);
    QVERIFY(!w.Controller().SensorsReading());
    QCOMPARE(kept(w, "Priority").toInt(), expectedPriority);
    QCOMPARE(QSettings("Vorsk.ini", QSettings::IniFormat).value("Duration"),
             QVariant(QString::number(expectedDuration)));
  }

  // A stored position stays only where the whole frame fits the screen;
  // one that overlaps its edge comes inside. No expected point: centred.
  void sizeAndPosition_data() {
    QTest::addColumn<QVariant>("size");
    QTest::addColumn<QVariant>("position");
    QTest::addColumn<QSize>("expectedSize");
    QTest::addColumn<QVariant>("expectedPos");
    const QVariant none;
    const QSize least(410, 423);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QTest::newRow("stored size below the minimum")
        << QVariant(QSize(200, 100)) << none << least << none;
    QTest::newRow("taller window kept")
        << QVariant(QSize(410, 550)) << QVariant(QPoint(20, 30))
        << QSize(410, 550) << QVariant(QPoint(20, 30));
    QTest::newRow("wider or taller than the maximum")
        << QVariant(QSize(900, 900)) << none << QSize(410, 691) << none;
    QTest::newRow("position on no screen")
        << none << QVariant(QPoint(-5000, -5000)) << least << none;
    QTest::newRow("mostly below and right of the screen")
        << none << QVariant(area.bottomRight() - QPoint(20, 20)) << least
        << QVariant(area.bottomRight() + QPoint(1, 1) - QPoint(410, 423));
    QTest::newRow("mostly above and left of the screen")
        << none << QVariant(area.topLeft() - QPoint(400, 400)) << least
        << QVariant(area.topLeft());
    QTest::newRow("just beyond the right edge")
        << none << QVariant(QPoint(area.right() + 1, area.top())) << least
        << none;
    QTest::newRow("size that is no size")
        << QVariant("garbage") << QVariant(QPoint(-1, -1)) << least << none;
  }
  void sizeAndPosition() {
    QFETCH(QVariant, size);
    QFETCH(QVariant, position);
    QFETCH(QSize, expectedSize);
    QFETCH(QVariant, expectedPos);
    if (size.isValid())
      store("Size", size);
    if (position.isValid())
      store("Position", position);
    FakePlatformScope scope;
    Vorsk w;
    QCOMPARE(w.size(), expectedSize);
    QCOMPARE(w.pos(), expectedPos.isValid() ? expectedPos.toPoint()
                                            : centred(expectedSize));
  }

  void durationChoiceSetsBarAndEnd() {
    FakePlatformScope scope;
    Vorsk w;
    QComboBox *duration = combo(w, "comboDuration");
    QProgressBar *bar = w.findChild<QProgressBar *>("barTest");
    choose(duration, 0);
    QCOMPARE(bar->maximum(), 59);
    QCOMPARE(w.Controller().EndOfTest(), QTime(23, 59, 0));
    choose(duration, 9);
    QCOMPARE(bar->maximum(), 72000);
    QCOMPARE(w.Controller().EndOfTest(), QTime(20, 0, 0));
    choose(duration, 1);
    QCOMPARE(w.Controller().EndOfTest(), QTime(1, 0, 0));
    QCOMPARE(kept(w, "Duration").toInt(), 1);
  }

  // A refused change leaves the box, Priority and the saved value on the
  // class in force, and says why when the priority was to go up.
  void priorityChoice_data() {
    QTest::addColumn<int>("storedIndex");
    QTest::addColumn<int>("chosen"); // -1: none after the start
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("inForce");
    QTest::addColumn<QString>("log");
    const QString raise = QString::fromUtf8(
        "Set Priority Class Error : élever la priorité demande les droits "
        "d'administrateur.");
    QTest::newRow("stored low, then high") << 2 << 0 << false << 0 << "";
    QTest::newRow("back to normal refused") << 2 << 1 << true << 2 << raise;
    QTest::newRow("high refused") << 1 << 0 << true << 1 << raise;
    QTest::newRow("lowering refused")
        << 1 << 2 << true << 1 << "Set Priority Class Error.";
    QTest::newRow("stored high refused at start")
        << 0 << -1 << true << 1 << raise;
  }
  void priorityChoice() {
    QFETCH(int, storedIndex);
    QFETCH(int, chosen);
    QFETCH(bool, refused);
    QFETCH(int, inForce);
    store("Priority", storedIndex);
    FakePlatformScope scope;
    const uint32_t classes[] = {ABOVE_NORMAL_PRIORITY_CLASS,
                                NORMAL_PRIORITY_CLASS,
                                BELOW_NORMAL_PRIORITY_CLASS};
    if (chosen == -1)
      scope.fake.failAlways(FakePlatform::Op::SetPriorityClass, refused);
    Vorsk w;
    if (chosen != -1) {
      scope.fake.failAlways(FakePlatform::Op::SetPriorityClass, refused);
      choose(combo(w, "comboPriority"), chosen);
    }
    QCOMPARE(scope.fake.priorityClass, classes[inForce]);
    QCOMPARE(combo(w, "comboPriority")->currentIndex(), inForce);
    QTEST(w.findChild<QTextEdit *>("textLog")->toPlainText(), "log");
    w.close();
    QCOMPARE(QSettings("Vorsk.ini", QSettings::IniFormat).value("Priority"),
             QVariant(QString::number(inForce)));
  }

  // Files that cannot be written in the working folder (a folder in their
  // place, which even root cannot replace): the start says so in the log
  // pane and the closing names them in a message box.
  void unwritableFilesAreNamed_data() {
    QTest::addColumn<QStringList>("inTheWay");
    QTest::addColumn<QStringList>("startLines");
    QTest::addColumn<QString>("closingText");
    const QString start =
        QString::fromUtf8("Écriture impossible dans le dossier de travail : ");
    const QString log = start + "le journal (Event.log) ne sera pas conservé.";
    const QString lostLog = QString::fromUtf8(
        "Event.log n'a pas pu être écrit dans le dossier de travail : le "
        "journal est perdu.");
    QTest::newRow("the log")
        << QStringList{"Event.log"} << QStringList{log} << lostLog;
    QTest::newRow("the log and the settings")
        << QStringList{"Event.log", "Vorsk.ini"}
        << QStringList{log, start + QString::fromUtf8(
                                        "les réglages (Vorsk.ini) ne seront "
                                        "pas conservés.")}
        << lostLog + "\n" +
               QString::fromUtf8("Vorsk.ini n'a pas pu être écrit dans le "
                                 "dossier de travail : les réglages ne sont "
                                 "pas conservés.");
  }
  void unwritableFilesAreNamed() {
    QFETCH(QStringList, inTheWay);
    QFETCH(QStringList, startLines);
    for (const QString &name : inTheWay)
      QVERIFY(QDir().mkdir(name));
    FakePlatformScope scope;
    Vorsk w;
    QCOMPARE(w.findChild<QTextEdit *>("textLog")->toPlainText(),
             startLines.join('\n'));
    ModalCloser closer;
    w.close();
    QTEST(closer.closed.value(0).section('|', 1, 1), "closingText");
    QCOMPARE(closer.closed.size(), 1);
  }
};

QTEST_MAIN(VorskTest)
#include "tst_vorsk.moc"

#include "app/Vorsk.h"
#include "options/OptionsForm.h"
#include "platform/fake/FakePlatform.h"
#include "settings/Options.h"
#include "settings/SoundPlayer.h"
#include "settings/Sounds.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <functional>

// The dialog against a settings file and sound folders of a scratch working
// directory, with a recording sound player.
class OptionsTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString previousDir;
  QStringList played;
  SoundPlayer previousPlayer;

  // The application's palette for a window made in the scope, which keeps
  // it as its saved colours; the test's own palette comes back at the end.
  struct AppWindowColour {
    AppWindowColour() {
      QPalette own = saved;
      own.setColor(QPalette::Window, QColor(1, 2, 3));
      QApplication::setPalette(own);
    }
    ~AppWindowColour() { QApplication::setPalette(saved); }
    QPalette saved = QApplication::palette();
  };

  static void store(const QString &key, const QVariant &value) {
    QSettings s("Vorsk.ini", QSettings::IniFormat);
    s.setValue(key, value);
  }
  static void touch(const QString &path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
  }
  static void activate(QComboBox *combo, const QString &text) {
    combo->setCurrentIndex(combo->findText(text));
    QMetaObject::invokeMethod(combo, "activated", Q_ARG(QString, text));
  }
  // Opens the dialog from the window, acting on it once it is open. A dialog
  // that an action left open (a failed check) is dismissed, so no test hangs.
  static void showOptions(Vorsk &w, std::function<void(Options &)> action) {
    QTimer::singleShot(0, [action] {
      auto *dialog = qobject_cast<Options *>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      action(*dialog);
      if (dialog->isVisible())
        dialog->reject();
    });
    w.findChild<QPushButton *>("pushOptions")->click();
  }
  // The run's one-second timers: the sensor timer, when no test runs.
  static int secondTimers(Vorsk &w) {
    int count = 0;
    for (const auto &timer :
         QAbstractEventDispatcher::instance()->registeredTimers(
             &w.Controller()))
      if (timer.interval == 1000)
        ++count;
    return count;
  }
  static bool sensorTimerRuns(Vorsk &w) {
    return w.Controller().SensorsReading() && secondTimers(w) == 1;
  }

private slots:
  void initTestCase() {
    QVERIFY(dir.isValid());
    previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QVERIFY(QDir().mkpath("Sound/Succes") && QDir().mkpath("Sound/Failed"));
    previousPlayer =
        setSoundPlayer([this](const QString &file) { played << file; });
  }
  void cleanupTestCase() {
    setSoundPlayer(previousPlayer);
    QDir::setCurrent(previousDir);
  }
  void init() {
    QFile::remove("Vorsk.ini");
    played.clear();
  }
  void cleanup() {
    QFile::remove("Vorsk.ini");
    for (const char *folder : {"Sound/Succes", "Sound/Failed"})
      for (const QString &name : QDir(folder).entryList(QDir::Files))
        QFile::remove(QString(folder) + "/" + name);
  }

  void temperatureLimit_data() {
    QTest::addColumn<QVariant>("storedValue");
    QTest::addColumn<int>("tick"); // -1 leaves the box as loaded
    QTest::addColumn<int>("spin"); // -1 leaves the spin box as loaded
    QTest::addColumn<int>("saved");
    QTest::addColumn<bool>("reopenTicked");
    QTest::addColumn<int>("reopenSpin");
    QTest::newRow("unticked with 80")
        << QVariant() << 0 << 80 << -80 << false << 80;
    QTest::newRow("unticked with 0 is an active limit of 0")
        << QVariant() << 0 << 0 << 0 << true << 0;
    QTest::newRow("no file: no limit, 70 shown")
        << QVariant() << -1 << -1 << -70 << false << 70;
    QTest::newRow("stored 120 shows the maximum")
        << QVariant(120) << -1 << -1 << 99 << true << 99;
    QTest::newRow("stored -120 shows the maximum")
        << QVariant(-120) << -1 << -1 << -99 << false << 99;
    QTest::newRow("stored lowest integer")
        << QVariant(INT_MIN) << -1 << -1 << -99 << false << 99;
  }
  void temperatureLimit() {
    QFETCH(QVariant, storedValue);
    QFETCH(int, tick);
    QFETCH(int, spin);
    QFETCH(int, saved);
    QFETCH(bool, reopenTicked);
    QFETCH(int, reopenSpin);
    FakePlatformScope scope;
    if (storedValue.isValid())
      store("MaxTemp", storedValue);
    Vorsk w;
    showOptions(w, [&](Options &o) {
      if (tick != -1)
        ui(o).checkMaxTemp->setChecked(tick);
      if (spin != -1)
        ui(o).spinMaxTemp->setValue(spin);
      ui(o).pushOk->click();
    });
    QCOMPARE(stored("MaxTemp").toInt(), saved);
    QCOMPARE(w.Controller().MaxTemperature(), saved);
    Options reopened(&w, restyleOf(w));
    QCOMPARE(ui(reopened).checkMaxTemp->isChecked(), reopenTicked);
    QCOMPARE(ui(reopened).spinMaxTemp->value(), reopenSpin);
  }

  // A hand-edited file reaches the window and the dialog alike: yes/no keys
  // that hold no boolean are off, a limit that is no integer is off, and
  // UTF-8 names are read and written back as they were.
  void handEditedFile_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<int>("maxTemp");
    QTest::newRow("words that are no booleans")
        << QByteArray("AutoStart=no\nShutdown=non\nExportTXT=oui\n"
                      "Palette=off\nMaxTemp=abc\n")
        << false << -70;
    QTest::newRow("booleans in any case and integers")
        << QByteArray("Shutdown=TRUE\nExportTXT=1\nPalette=-1\nMaxTemp=85\n")
        << true << 85;
  }
  void handEditedFile() {
    QFETCH(QByteArray, ini);
    QFETCH(bool, yes);
    QFETCH(int, maxTemp);
    const QString sound = QString::fromUtf8("Réussite.wav");
    touch("Sound/Succes/" + sound);
    QFile file("Vorsk.ini");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nSuccesSound=" + sound.toUtf8() + "\n" + ini);
    file.close();
    FakePlatformScope scope;
    Vorsk w;
    QVERIFY(!w.Controller().Running());
    QCOMPARE(w.Controller().Sensors().ExportTXT, yes);
    QCOMPARE(w.Controller().MaxTemperature(), maxTemp);
    Options o(&w, restyleOf(w));
    QCOMPARE(ui(o).checkShutdown->isChecked(), yes);
    QCOMPARE(ui(o).checkExportTXT->isChecked(), yes);
    QCOMPARE(ui(o).checkPalette->isChecked(), !yes);
    QCOMPARE(ui(o).checkMaxTemp->isChecked(), yes);
    QCOMPARE(ui(o).comboSucces->currentText(), sound);
    o.done(1);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("SuccesSound=" + sound.toUtf8()));
  }

  void acceptingKeepsSensorsOfAnAbsentSource() {
    FakePlatformScope scope;
    store("Monitoring", 4);
    store("TempSensor", 3);
    store("VoltSensor", 1);
    Vorsk w;
    showOptions(w, [](Options &o) {
      ui(o).comboMonitoring->setCurrentIndex(2);
      QCOMPARE(ui(o).labelMonitoring->text(), QString("Absent"));
      QVERIFY(!ui(o).comboTCPU->isEnabled() && !ui(o).comboVcore->isEnabled());
      QVERIFY(ui(o).checkMaxTemp->isEnabled());
      ui(o).pushOk->click();
    });
    QCOMPARE(stored("Monitoring").toInt(), 2);
    QCOMPARE(stored("TempSensor").toInt(), 3);
    QCOMPARE(stored("VoltSensor").toInt(), 1);
    const SensorChoice &sensors = w.Controller().Sensors();
    QCOMPARE(sensors.Monitoring, 2);
    QCOMPARE(sensors.TempSensor.toInt(), 3);
    QCOMPARE(sensors.VoltSensor.toInt(), 1);
  }

  void noSourceDisablesTheLimitAndExport() {
    FakePlatformScope scope;
    Vorsk w;
    Options o(&w, restyleOf(w));
    QCOMPARE(ui(o).comboMonitoring->count(), 8);
    QCOMPARE(ui(o).comboMonitoring->itemText(7), QString("lm-sensors"));
    QCOMPARE(ui(o).labelMonitoring->text(), QString("-"));
    QVERIFY(!ui(o).checkMaxTemp->isEnabled());
    QVERIFY(!ui(o).spinMaxTemp->isEnabled());
    QVERIFY(!ui(o).checkExportTXT->isEnabled());
    QCOMPARE(ui(o).comboTCPU->count(), 0);
  }

  void escapeRestoresTheStoredLook() {
    FakePlatformScope scope;
    store("Style", "Cleanlooks");
    store("Palette", false);
    AppWindowColour colour;
    Vorsk w;
    showOptions(w, [](Options &o) {
      activate(ui(o).comboStyle, "Motif");
      QCOMPARE(QApplication::style()->objectName(), QString("motif"));
      QTest::keyClick(&o, Qt::Key_Escape);
    });
    QCOMPARE(QApplication::style()->objectName(), QString("cleanlooks"));
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(1, 2, 3));
    QCOMPARE(stored("Style").toString(), QString("Cleanlooks"));
    w.ChangeStyle("Aucun", true);
  }

  void storedStyleSelectsItsEntry_data() {
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("paletteBoxEnabled");
    const QString plastique = "Plastique", vexa = "Vexa", none = "Aucun";
    QTest::newRow("written in lower case") << "plastique" << plastique << true;
    QTest::newRow("house skin") << vexa << "Vexa" << false;
    QTest::newRow("native look") << none << "Aucun" << false;
    QTest::newRow("unknown name") << "Oxygen" << none << false;
  }
  void storedStyleSelectsItsEntry() {
    QFETCH(QString, style);
    QFETCH(QString, selected);
    QFETCH(bool, paletteBoxEnabled);
    FakePlatformScope scope;
    store("Style", style);
    Vorsk w;
    Options o(&w, restyleOf(w));
    QCOMPARE(ui(o).comboStyle->currentText(), selected);
    QCOMPARE(ui(o).checkPalette->isEnabled(), paletteBoxEnabled);
    o.done(0);
    w.ChangeStyle("Aucun", true);
  }

  void paletteBoxKeepsItsStateWhileDisabled() {
    FakePlatformScope scope;
    store("Style", "Plastique");
    store("Palette", false);
    AppWindowColour colour;
    Vorsk w;
    Options o(&w, restyleOf(w));
    QVERIFY(ui(o).checkPalette->isChecked());
    activate(ui(o).comboStyle, "Vexa");
    QVERIFY(!ui(o).checkPalette->isEnabled());
    QVERIFY(ui(o).checkPalette->isChecked());
    activate(ui(o).comboStyle, "Aucun");
    QVERIFY(!ui(o).checkPalette->isEnabled());
    activate(ui(o).comboStyle, "Motif");
    QVERIFY(ui(o).checkPalette->isEnabled());
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(1, 2, 3));
    ui(o).checkPalette->setChecked(false);
    QCOMPARE(QApplication::palette().color(QPalette::Window),
             QApplication::style()->standardPalette().color(QPalette::Window));
    o.done(1);
    QCOMPARE(stored("Style").toString(), QString("Motif"));
    QCOMPARE(stored("Palette").toBool(), true);
    w.ChangeStyle("Aucun", true);
  }

  void soundsListedAndPlayed() {
    FakePlatformScope scope;
    for (const char *name : {"b.WAV", "Tada.wav", "a.wav", "notes.mp3"})
      touch(QString("Sound/Succes/") + name);
    QVERIFY(QDir().mkpath("Sound/Succes/folder.wav"));
    touch("Sound/Failed/Buzz.wav");
    store("SuccesSound", "tada.WAV");
    store("FailedSound", "Gone.wav");
    Vorsk w;
    Options o(&w, restyleOf(w));
    QCOMPARE(texts(ui(o).comboSucces),
             QStringList({"Aucun", "a.wav", "b.WAV", "Tada.wav"}));
    QCOMPARE(ui(o).comboSucces->currentText(), QString("Tada.wav"));
    QCOMPARE(ui(o).comboFail->currentText(), QString("Aucun"));

    ui(o).pushFail->click();
    QVERIFY(played.isEmpty());
    ui(o).pushSucces->click();
    ui(o).comboFail->setCurrentIndex(1);
    ui(o).pushFail->click();
    QCOMPARE(played, QStringList({"./Sound/Succes/Tada.wav",
                                  "./Sound/Failed/Buzz.wav"}));

    o.done(1);
    QCOMPARE(stored("SuccesSound").toString(), QString("Tada.wav"));
    QCOMPARE(stored("FailedSound").toString(), QString("Buzz.wav"));
    QDir("Sound/Succes/folder.wav").removeRecursively();
  }

  void shippedSoundsListedWithTheUsersAndPlayed() {
    FakePlatformScope scope;
    QTemporaryDir shipped;
    const QString previousRoot = setShippedSoundRoot(shipped.path() + "/");
    QVERIFY(QDir(shipped.path()).mkpath("Succes") &&
            QDir(shipped.path()).mkpath("Failed"));
    for (const char *name : {"Carillon.wav", "Tada.wav"})
      touch(shipped.path() + "/Succes/" + name);
    touch(shipped.path() + "/Failed/Alerte.wav");
    touch("Sound/Succes/tada.wav");
    touch("Sound/Succes/Zut.wav");
    Vorsk w;
    Options o(&w, restyleOf(w));
    // The user's "tada.wav" hides the shipped "Tada.wav".
    QCOMPARE(texts(ui(o).comboSucces),
             QStringList({"Aucun", "Carillon.wav", "tada.wav", "Zut.wav"}));
    QCOMPARE(ui(o).comboSucces->currentText(), QString("Aucun"));
    QCOMPARE(ui(o).comboFail->currentText(), QString("Aucun"));

    for (int i : {2, 1}) {
      ui(o).comboSucces->setCurrentIndex(i);
      ui(o).pushSucces->click();
    }
    ui(o).comboFail->setCurrentIndex(1);
    ui(o).pushFail->click();
    o.done(1);
    const QString success = shipped.path() + "/Succes/Carillon.wav";
    const QString failure = shipped.path() + "/Failed/Alerte.wav";
    QCOMPARE(played,
             QStringList({"./Sound/Succes/tada.wav", success, failure}));
    // The verdict finds the chosen shipped sounds too.
    QCOMPARE(soundFile(SoundKind::Success, o.SuccesSound), success);
    QCOMPARE(soundFile(SoundKind::Failure, o.FailedSound), failure);
    setShippedSoundRoot(previousRoot);
  }

  void buildShipsShortSoundsOfEachKind() {
    const QString previousRoot = setShippedSoundRoot(
        qEnvironmentVariable("VORSK_BIN_DIR") + "/../share/vorsk/Sound/");
    for (SoundKind kind : {SoundKind::Success, SoundKind::Failure}) {
      const QDir folder(shippedSoundFolder(kind));
      const QStringList names = folder.entryList({"*.wav"}, QDir::Files);
      QVERIFY2(names.size() >= 2, qPrintable(folder.path()));
      for (const QString &name : names) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray wav = file.readAll();
        // A plain PCM file (format 1) with its data chunk right after "fmt ".
        QVERIFY(wav.startsWith("RIFF") && wav.mid(8, 8) == "WAVEfmt ");
        QCOMPARE(qFromLittleEndian<quint16>(wav.constData() + 20), 1);
        const quint32 byteRate =
            qFromLittleEndian<quint32>(wav.constData() + 28);
        QCOMPARE(wav.mid(36, 4), QByteArray("data"));
        const double seconds =
            qFromLittleEndian<quint32>(wav.constData() + 40) / double(byteRate);
        QVERIFY2(seconds > 0.2 && seconds < 2.0, qPrintable(name));
      }
    }
    setShippedSoundRoot(previousRoot);
  }

  void missingSoundFoldersGiveOnlyNone() {
    FakePlatformScope scope;
    QTemporaryDir empty;
    QDir::setCurrent(empty.path());
    Vorsk w;
    Options o(&w, restyleOf(w));
    QDir::setCurrent(dir.path());
    QCOMPARE(ui(o).comboSucces->count(), 1);
    QCOMPARE(ui(o).comboFail->count(), 1);
    ui(o).pushSucces->click();
    QVERIFY(played.isEmpty());
  }

  void closingRestartsTheSensorTimer_data() {
    QTest::addColumn<int>("storedSource");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<int>("chosenSource");
    QTest::addColumn<bool>("runsAfter");
    QTest::newRow("cancelled with a source") << 2 << false << 0 << true;
    QTest::newRow("accepted without a source") << 2 << true << 0 << false;
    QTest::newRow("accepted with a new source") << 0 << true << 3 << true;
    QTest::newRow("cancelled without a source") << 0 << false << 3 << false;
  }
  void closingRestartsTheSensorTimer() {
    QFETCH(int, storedSource);
    QFETCH(bool, accept);
    QFETCH(int, chosenSource);
    QFETCH(bool, runsAfter);
    FakePlatformScope scope;
    store("Monitoring", storedSource);
    store("MaxTemp", 85);
    Vorsk w;
    QCOMPARE(sensorTimerRuns(w), storedSource != 0);
    bool stoppedWhileOpen = false;
    QString sound = "Aucun";
    showOptions(w, [&](Options &o) {
      stoppedWhileOpen = secondTimers(w) == 0;
      ui(o).comboMonitoring->setCurrentIndex(chosenSource);
      ui(o).checkMaxTemp->setChecked(false);
      if (accept) {
        ui(o).pushOk->click();
        // What the window takes of an accepted dialog.
        sound = o.SuccesSound;
      } else {
        o.reject();
      }
    });
    QVERIFY(stoppedWhileOpen);
    QCOMPARE(sensorTimerRuns(w), runsAfter);
    // Timers started later (the run timer) reuse freed identifiers: a
    // stopped sensor timer keeps none that they could be taken for.
    QCOMPARE(w.Controller().SensorsReading(), runsAfter);
    QCOMPARE(w.Controller().Sensors().Monitoring,
             accept ? chosenSource : storedSource);
    QCOMPARE(w.Controller().MaxTemperature(), accept ? -85 : 85);
    QCOMPARE(sound, QString("Aucun"));
  }
};

QTEST_MAIN(OptionsTest)
#include "tst_options.moc"

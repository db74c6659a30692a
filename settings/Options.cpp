#include "settings/Options.h"

#include "platform/Platform.h"
#include "resources/TextRoom.h"
#include "sensors/SensorSources.h"
#include "settings/RunSettings.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsKeys.h"
#include "settings/SoundPlayer.h"
#include "settings/Sounds.h"
#include "settings/TestModeSettings.h"

#include <QtGlobal>

namespace {
const char *const StyleNames[] = {"Aucun",     "Windows",    "Motif", "CDE",
                                  "Plastique", "Cleanlooks", "Vexa"};
const char *const SourceNames[] = {"Aucun",
                                   "SysTool v1.0",
                                   "SpeedFan 4.xx",
                                   "Everest Ultimate",
                                   "Motherboard Monitor 5",
                                   "Intel Core Temp",
                                   "K8 Thermal Sensor",
                                   "lm-sensors"};
// In the order of EngineLoad.
const char *const LoadNames[] = {"Complète (toutes les unités du processeur)",
                                 "Calcul flottant seul (chaleur maximale)"};
// In the order of TestModeKind.
const char *const ModeNames[] = {"Tous les processeurs", "Un cœur à la fois",
                                 "Charge alternée"};

bool usesOwnColours(const QString &style) {
  return style != "Aucun" && style != "Vexa";
}

// "Aucun" first, then the user's and the shipped sound files by name.
void fillSounds(QComboBox *combo, SoundKind kind) {
  combo->addItem("Aucun");
  combo->addItems(soundNames(kind));
}

// The entry whose text matches ignoring case, else the first one.
void selectText(QComboBox *combo, const QString &text) {
  combo->setCurrentIndex(qMax(0, combo->findText(text, Qt::MatchFixedString)));
}
} // namespace

Options::Options(QWidget *parent, Restyle restyle)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ExportTXT(false), Shutdown(false), MaxTemp(DEFAULT_MAXTEMP),
      Monitoring(DEFAULT_MONITORING), RestyleWindow(std::move(restyle)) {
  ui.setupUi(this);
  keepButtonTextsInRoom(this);
  const auto settings = openSettings();

  for (const char *name : StyleNames)
    ui.comboStyle->addItem(name);
  selectText(ui.comboStyle,
             settings->value(Key::Style, DEFAULT_STYLE).toString());
  if (!usesOwnColours(ui.comboStyle->currentText()))
    ui.checkPalette->setEnabled(false);
  // Checking the box applies the selected style with the saved palette.
  if (!readBool(*settings, Key::Palette, DEFAULT_PALETTE))
    ui.checkPalette->setChecked(true);

  fillSounds(ui.comboSucces, SoundKind::Success);
  fillSounds(ui.comboFail, SoundKind::Failure);
  SuccesSound = settings->value(Key::SuccesSound, DEFAULT_SOUND).toString();
  FailedSound = settings->value(Key::FailedSound, DEFAULT_SOUND).toString();
  selectText(ui.comboSucces, SuccesSound);
  selectText(ui.comboFail, FailedSound);

  for (const char *name : ModeNames)
    ui.comboMode->addItem(QString::fromUtf8(name));
  Mode = readTestMode(*settings);
  ui.spinCoreMinutes->setValue(Mode.coreMinutes);
  ui.checkCoreThreads->setChecked(Mode.everyThread);
  ui.comboMode->setCurrentIndex(int(Mode.kind));
  for (const char *name : LoadNames)
    ui.comboLoad->addItem(QString::fromUtf8(name));
  ui.comboLoad->setCurrentIndex(int(readEngineLoad(*settings)));
  on_comboMode_currentIndexChanged(int(Mode.kind));

  const RunSettings stored = readRunSettings(*settings);
  Monitoring = stored.sensors.Monitoring;
  TempSensor = stored.sensors.TempSensor;
  VoltSensor = stored.sensors.VoltSensor;
  // Chips may have come or gone since the start (a module loaded): they are
  // found again once per opening, never while the sensor timer reads them.
  platform().rescanSensors();
  // Each index change probes that source and lists its sensors.
  for (const char *name : SourceNames)
    ui.comboMonitoring->addItem(name);
  if (unsigned(Monitoring) > SOURCE_LAST)
    Monitoring = 0;
  ui.comboMonitoring->setCurrentIndex(Monitoring);

  ExportTXT = stored.sensors.ExportTXT;
  ui.checkExportTXT->setChecked(ExportTXT);
  Shutdown = readBool(*settings, Key::Shutdown, DEFAULT_SHUTDOWN);
  ui.checkShutdown->setChecked(Shutdown);
  MaxTemp = stored.maxTemp;
  ui.checkMaxTemp->setChecked(MaxTemp >= 0);
  // The spin box clamps to its range; the 64-bit magnitude keeps INT_MIN
  // from overflowing.
  ui.spinMaxTemp->setValue(
      int(qMin<qint64>(qAbs(qint64(MaxTemp)), ui.spinMaxTemp->maximum())));
}

void Options::done(int r) {
  const auto settings = openSettings();
  if (r == 1) {
    settings->setValue(Key::Style, ui.comboStyle->currentText());
    settings->setValue(Key::Palette, !ui.checkPalette->isChecked());
    Shutdown = ui.checkShutdown->isChecked();
    settings->setValue(Key::Shutdown, Shutdown);
    SuccesSound = ui.comboSucces->currentText();
    FailedSound = ui.comboFail->currentText();
    settings->setValue(Key::SuccesSound, SuccesSound);
    settings->setValue(Key::FailedSound, FailedSound);
    Mode = {TestModeKind(ui.comboMode->currentIndex()),
            ui.spinCoreMinutes->value(), ui.checkCoreThreads->isChecked()};
    writeTestMode(*settings, Mode);
    writeEngineLoad(*settings, EngineLoad(ui.comboLoad->currentIndex()));
    Monitoring = ui.comboMonitoring->currentIndex();
    settings->setValue(Key::Monitoring, Monitoring);
    if (ui.labelMonitoring->text() == QString::fromUtf8("Présent")) {
      storeSensorChoice();
      settings->setValue(Key::TempSensor, TempSensor);
      settings->setValue(Key::VoltSensor, VoltSensor);
    }
    MaxTemp = ui.checkMaxTemp->isChecked() ? ui.spinMaxTemp->value()
                                           : -ui.spinMaxTemp->value();
    settings->setValue(Key::MaxTemp, MaxTemp);
    ExportTXT = ui.checkExportTXT->isChecked();
    settings->setValue(Key::ExportTXT, ExportTXT);
  } else {
    applyStyle(settings->value(Key::Style, DEFAULT_STYLE).toString(),
               readBool(*settings, Key::Palette, DEFAULT_PALETTE));
  }
  QDialog::done(r);
}

void Options::on_pushOk_clicked() { done(1); }

// The core's time and threads only mean something one core at a time.
void Options::on_comboMode_currentIndexChanged(int index) {
  const bool perCore = index == int(TestModeKind::PerCore);
  ui.labelCoreMinutes->setEnabled(perCore);
  ui.spinCoreMinutes->setEnabled(perCore);
  ui.checkCoreThreads->setEnabled(perCore);
}

void Options::on_pushSucces_clicked() {
  if (ui.comboSucces->currentIndex() >= 1)
    playSound(soundFile(SoundKind::Success, ui.comboSucces->currentText()));
}

void Options::on_pushFail_clicked() {
  if (ui.comboFail->currentIndex() >= 1)
    playSound(soundFile(SoundKind::Failure, ui.comboFail->currentText()));
}

void Options::on_comboStyle_activated(QString string) {
  ui.checkPalette->setEnabled(usesOwnColours(string));
  applyStyle(string, !ui.checkPalette->isChecked());
}

void Options::on_checkPalette_stateChanged(int) {
  applyStyle(ui.comboStyle->currentText(), !ui.checkPalette->isChecked());
}

void Options::applyStyle(const QString &style, bool palette) {
  RestyleWindow(style, palette);
}

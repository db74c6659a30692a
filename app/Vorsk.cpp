#include "app/Vorsk.h"

#include "app/KeptFiles.h"
#include "app/RunGraph.h"
#include "app/SystemLabels.h"
#include "app/WindowPlace.h"
#include "platform/Platform.h"
#include "resources/TextRoom.h"
#include "settings/DataFolder.h"
#include "settings/FirstSensor.h"
#include "settings/RunChoices.h"
#include "settings/RunSettings.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsKeys.h"
#include "settings/TestModeSettings.h"
#include "stress/ThreadStress.h"
#include "sysinfo/SystemInfo.h"
#include "sysinfo/SystemSummary.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

namespace {
// The texts of the choices of PriorityClasses and DurationSeconds.
const char *const PriorityTexts[] = {" Haute", " Normale", " Basse"};
const char *const DurationTexts[] = {
    "  Manuelle", "  1 heure",  "  2 heures", "  3 heures", "  4 heures",
    "  6 heures", "  8 heures", " 12 heures", " 16 heures", " 20 heures"};

// The stored position kept only where the whole frame fits a screen.
void placeWindow(QWidget *window, const QPoint &stored) {
  QList<QRect> areas;
  for (const QScreen *screen : QGuiApplication::screens())
    areas.append(screen->availableGeometry());
  window->move(placeFrame(
      stored == QPoint(-1, -1) ? std::nullopt : std::optional<QPoint>(stored),
      window->frameGeometry().size(), areas,
      QGuiApplication::primaryScreen()->availableGeometry()));
}
} // namespace

Vorsk::Vorsk(bool trayAvailable, QWidget *parent)
    : QWidget(parent, Qt::WindowMinimizeButtonHint),
      TrayAvailable(trayAvailable), SavedPos(0, 0) {
  ui.setupUi(this);
  keepButtonTextsInRoom(this);
  // Styles that open the list as a menu (Fusion, Cleanlooks) show every
  // item and ignore maxVisibleItems; a plain list view honours it.
  ui.comboDuration->setStyleSheet("QComboBox { combobox-popup: 0; }");

  const auto settings = openSettings();
  AutoStart = readBool(*settings, Key::AutoStart, DEFAULT_AUTOSTART);
  const RunSettings stored = readRunSettings(*settings);
  Priority = stored.priority;
  Duration = stored.duration;
  Shutdown = readBool(*settings, Key::Shutdown, DEFAULT_SHUTDOWN);
  SuccesSound = settings->value(Key::SuccesSound, DEFAULT_SOUND).toString();
  FailedSound = settings->value(Key::FailedSound, DEFAULT_SOUND).toString();
  SensorChoice sensors = stored.sensors;
  const int maxTemp = stored.maxTemp;
  chooseFirstSensor(*settings, &sensors);

  AppPalette = QGuiApplication::palette();
  ChangeStyle(settings->value(Key::Style, DEFAULT_STYLE).toString(),
              readBool(*settings, Key::Palette, DEFAULT_PALETTE));

  ui.barTest->setFormat(QString());
  ui.barTest->setValue(0);
  ui.labelBar->setText("0.0%");
  ui.barCPU->setValue(80);

  CreateActions();
  CreateTrayIcon();
  ConnectRun();

  resize(settings->value(Key::Size).toSize());
  placeWindow(this, settings->value(Key::Position, QPoint(-1, -1)).toPoint());

  setWindowTitle(sysinfo::windowTitle());

  ProcessAffinityMask = CpuSet();
  bShutdownPending = false;

  InitialiseSystem();

  EngineArgument = l2KbPerLogical();

  sysinfo::fillSystemLabels(ui.labelName, ui.labelInstructions,
                            ui.labelFrequency, ui.labelCacheL2,
                            ui.labelConfiguration);

  for (int i = 0; i < 3; ++i)
    ui.comboPriority->addItem(PriorityTexts[i], PriorityClasses[i]);
  if (unsigned(Priority) > 2)
    Priority = 1;
  ui.comboPriority->setCurrentIndex(Priority);
  on_comboPriority_activated(Priority);

  for (int i = 0; i < 10; ++i)
    ui.comboDuration->addItem(DurationTexts[i], DurationSeconds[i]);
  if (unsigned(Duration) > 9)
    Duration = 0;
  ui.comboDuration->setCurrentIndex(Duration);
  on_comboDuration_activated(Duration);

  Run.SetSensors(sensors, maxTemp);
  Run.SetMode(readTestMode(*settings));

  if (!passedOverFolderLine().isEmpty())
    ui.textLog->append(passedOverFolderLine());
  for (const QString &line : unkeptFileLines())
    ui.textLog->append(line);
  if (!TrayAvailable)
    ui.textLog->append(QString::fromUtf8(
        "Le System Tray est indisponible : la fenêtre se réduit dans la "
        "barre des tâches."));

  ShowInterruptedRun();
  if (AutoStart)
    StartTest();
}

// A refused change leaves the choice and Priority on the class in force, so
// that neither the box nor the stored value claims a priority the process
// does not have.
int Vorsk::InitialiseSystem() {
  sysinfo::SystemReport report{
      [this](const QString &line) { AppendLog(line); },
      [this](const QString &text) {
        QMessageBox::warning(this, "Vorsk 1.0.4", tr(text.toUtf8().constData()),
                             QMessageBox::Ok);
      }};
  return sysinfo::InitialiseSystem(&ProcessAffinityMask, report);
}

void Vorsk::on_comboPriority_activated(int index) {
  const unsigned priorityClass = ui.comboPriority->itemData(index).toUInt();
  if (platform().setPriorityClass(priorityClass)) {
    Priority = index;
    return;
  }
  const int inForce = priorityIndex(platform().currentPriorityClass());
  AppendLog(priorityRefusalLine(index, inForce));
  Priority = inForce;
  ui.comboPriority->setCurrentIndex(inForce);
}

void Vorsk::on_comboDuration_activated(int index) {
  Duration = index;
  const int seconds = ui.comboDuration->itemData(index).toInt();
  Run.SetDuration(seconds);
  ui.barTest->setMaximum(index == 0 ? 59 : seconds);
}

void Vorsk::on_pushAbout_clicked() { ShowAbout(); }

void Vorsk::on_pushOptions_clicked() { ShowOptions(); }

void Vorsk::on_pushQuit_clicked() { close(); }

void Vorsk::on_pushGraph_clicked() {
  if (!Graph)
    Graph = new RunGraph(GraphSamples, this);
  Graph->showNormal();
  Graph->raise();
  Graph->activateWindow();
}

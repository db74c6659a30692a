// The window's life around a run: tray icon and menu, hiding to the tray,
// resizing and closing.

#include "app/Vorsk.h"

#include "app/KeptFiles.h"
#include "platform/EngineContract.h"
#include "platform/Platform.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsKeys.h"
#include "stress/RunMeasure.h"
#include "stress/ThreadStress.h"
#include "sysinfo/SystemInfo.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

namespace {
const uint32_t SHUTDOWN_DELAY_MS = 5000;
} // namespace

void Vorsk::CreateActions() {
  restoreAction = new QAction(tr("&Ouvrir"), this);
  connect(restoreAction, &QAction::triggered, this, &QWidget::showNormal);
  quitAction = new QAction(tr("&Quitter"), this);
  connect(quitAction, &QAction::triggered, this, &QWidget::close);
}

void Vorsk::CreateTrayIcon() {
  // The resources live in a static library: make sure they are registered.
  Q_INIT_RESOURCE(resources);
  trayIconMenu = new QMenu(this);
  trayIconMenu->addAction(restoreAction);
  trayIconMenu->addSeparator();
  trayIconMenu->addAction(quitAction);
  trayIcon = new QSystemTrayIcon(this);
  trayIcon->setContextMenu(trayIconMenu);
  trayIcon->setIcon(QIcon(":/Images/icon.png"));
  trayIcon->setToolTip(TOOLTIP_IDLE);
  connect(trayIcon, &QSystemTrayIcon::activated, this, &Vorsk::iconActivated);
}

void Vorsk::iconActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Trigger)
    showNormal();
}

// Only to a tray that exists: an icon shown to none would leave the window
// hidden with no way back.
void Vorsk::hideEvent(QHideEvent *) {
  if (!TrayAvailable || !isMinimized() || trayIcon->isVisible())
    return;
  trayIcon->show();
  SavedPos = pos();
  // Resetting the flags hides the window: off the screen and the task bar.
  setWindowFlags(Qt::WindowMinimizeButtonHint);
}

void Vorsk::showEvent(QShowEvent *) {
  if (!isVisible() || !trayIcon->isVisible())
    return;
  trayIcon->hide();
  move(SavedPos);
}

void Vorsk::resizeEvent(QResizeEvent *) {
  const int extra = height() - minimumHeight();
  ui.textLog->resize(ui.textLog->width(), ui.textLog->minimumHeight() + extra);
  ui.pushAbout->move(10, height() - 31);
  ui.pushGraph->move(155, height() - 31);
  ui.pushQuit->move(300, height() - 31);
  ui.widgetEnd->move(0, height() - 8);
}

// Replaced every time; an empty log leaves the last one in place. False
// when it could not be written.
bool Vorsk::WriteEventLog() {
  const QByteArray log = ui.textLog->toPlainText().toUtf8();
  if (log.isEmpty())
    return true;
  return replaceOwnFile("Event.log", log.toStdString());
}

void Vorsk::closeEvent(QCloseEvent *event) {
  Run.Close();

  bool settingsLost;
  {
    const auto settings = openSettings();
    settings->setValue(Key::Priority, Priority);
    settings->setValue(Key::Duration, Duration);
    settings->setValue(Key::Size, size());
    settings->setValue(Key::Position, pos());
    settings->sync();
    settingsLost = settings->status() != QSettings::NoError;
  }

  const bool logLost = !WriteEventLog();
  // After Event.log: a crash in between still shows the run next time.
  Run.EndJournal();
  const QStringList lost = lostFileLines(logLost, settingsLost);
  if (!lost.isEmpty()) {
    QMessageBox box(QMessageBox::Warning, "Vorsk 1.0.4", lost.join('\n'),
                    QMessageBox::Ok, this);
    // The shutdown the user asked for does not wait for a click.
    if (bShutdownPending)
      QTimer::singleShot(SHUTDOWN_DELAY_MS, &box, &QMessageBox::accept);
    box.exec();
  }

  if (bShutdownPending) {
    platform().sleep(SHUTDOWN_DELAY_MS);
    platform().runShutdownCommand();
  }
  event->accept();
}

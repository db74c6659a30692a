// The window's side of a run: the controller's lines, colours, tool tips,
// ticks and ends shown, the sounds, the notices and the shutdown rule.

#include "app/Vorsk.h"

#include "app/DesktopNotice.h"
#include "platform/EngineContract.h"
#include "platform/Platform.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsKeys.h"
#include "settings/SoundPlayer.h"
#include "settings/Sounds.h"
#include "settings/TestModeSettings.h"
#include "stress/RunMeasure.h"
#include "stress/ThreadStress.h"
#include "sysinfo/SystemInfo.h"

#include <QTextBlock>
#include <QTextCursor>

void Vorsk::ConnectRun() {
  connect(&Run, &RunController::logLine, ui.textLog, &QTextEdit::append);
  connect(&Run, &RunController::logColour, this, &Vorsk::SetLogColour);
  connect(&Run, &RunController::toolTip, trayIcon,
          &QSystemTrayIcon::setToolTip);
  connect(&Run, &RunController::frequency, ui.labelFrequency, &QLabel::setText);
  connect(&Run, &RunController::sensorText, this,
          [this](const QString &temperature, const QString &vcore) {
            ui.labelTemperature->setText(temperature);
            ui.labelVcore->setText(vcore);
          });
  // Every reading of the run, the one that reaches the limit too.
  connect(&Run, &RunController::sensorReading, this, [this](double celsius) {
    if (Run.Running())
      GraphSamples.add(SampleStore::Temperature, platform().timeGetTime(),
                       celsius);
  });
  connect(&Run, &RunController::stopAllowed, this, [this] {
    ui.pushTest->setText("Arrêter");
    ui.pushTest->setEnabled(true);
  });
  connect(&Run, &RunController::tick, this, &Vorsk::ShowTick);
  connect(&Run, &RunController::runStarted, this, [this] {
    GraphSamples.begin(platform().timeGetTime(), Run.MaxTemperature());
  });
  connect(&Run, &RunController::runStopped, this, [this] {
    ui.labelBar->setText("0.0%");
    ui.barCPU->setValue(80);
    ui.pushTest->setEnabled(false);
  });
  connect(&Run, &RunController::runClosed, this, [this] {
    ui.pushOptions->setEnabled(true);
    ui.comboDuration->setEnabled(true);
    ui.pushTest->setText("Démarrer");
    ui.pushTest->setEnabled(true);
  });
  connect(&Run, &RunController::endNotice, this, &Vorsk::NotifyEnd);
  connect(&Run, &RunController::restoreWindow, this, &QWidget::showNormal);
  connect(&Run, &RunController::verdictSound, this, [this](bool success) {
    if (success)
      PlaySuccessSound();
    else
      PlayFailureSound();
  });
  connect(&Run, &RunController::endedUnattended, this,
          &Vorsk::ApplyShutdownRule);
}

void Vorsk::AppendLog(const QString &line) { Run.Log(line); }

// A run whose journal is still there never ended: the machine froze or
// restarted under the test, the gravest sign of an unstable processor.
void Vorsk::ShowInterruptedRun() {
  RunJournal::Interrupted run;
  if (!RunJournal::findInterrupted(&run))
    return;
  for (const QString &line : run.shownLines())
    AppendLog(line);
  SetLogColour(COLOUR_UNSTABLE);
  trayIcon->setToolTip(TOOLTIP_UNSTABLE);
  // Kept at once: the record must not depend on this start closing well.
  WriteEventLog();
  RunJournal::discard();
}

void Vorsk::AppendSeparator() {
  AppendLog(QString(52, '_') + "\n");
  // One line whatever width the scroll bar leaves; underscores that do not
  // fit are cut at the edge rather than wrapped onto a line of their own.
  QTextCursor cursor(ui.textLog->document()->lastBlock().previous());
  QTextBlockFormat format = cursor.blockFormat();
  format.setNonBreakableLines(true);
  cursor.setBlockFormat(format);
}

void Vorsk::SetLogColour(const char *colour) {
  QPalette coloured = palette();
  if (colour)
    coloured.setBrush(QPalette::All, QPalette::Base, QBrush(QColor(colour)));
  ui.textLog->setPalette(coloured);
}

void Vorsk::PlaySuccessSound() {
  if (SuccesSound != DEFAULT_SOUND)
    playSound(soundFile(SoundKind::Success, SuccesSound));
}

void Vorsk::PlayFailureSound() {
  if (FailedSound != DEFAULT_SOUND)
    playSound(soundFile(SoundKind::Failure, FailedSound));
}

bool Vorsk::StartTest() {
  SetLogColour(nullptr);
  if (!ui.textLog->toPlainText().isEmpty())
    AppendSeparator();
  ui.barTest->setFormat("0 seconde");
  ui.barTest->setValue(0);
  ui.pushOptions->setEnabled(false);
  ui.comboDuration->setEnabled(false);
  ui.pushTest->setEnabled(false);
  // The load chosen in the options since the last run.
  Run.Start(m_SystemInfo,
            WithEngineLoad(EngineArgument, readEngineLoad(*openSettings())));
  return true;
}

void Vorsk::ShowTick(const RunTick &tick) {
  ui.labelBar->setText(QString::asprintf("%.1f %%", tick.usage));
  ui.barCPU->setValue(int(tick.usage));
  const QString elapsed = ElapsedText(tick.testTime);
  trayIcon->setToolTip(elapsed);
  ui.barTest->setFormat(elapsed);
  const int seconds = QTime(0, 0).secsTo(tick.testTime);
  ui.barTest->setValue(seconds % (ui.barTest->maximum() + 1));
  // Kept for the graph, which draws them on its own time.
  const uint32_t now = platform().timeGetTime();
  GraphSamples.add(SampleStore::Clock, now, tick.clockMHz);
  GraphSamples.add(SampleStore::Usage, now, tick.usage);
}

void Vorsk::on_pushTest_clicked() {
  const unsigned char state = stopFlagLowByte(&bStopTest);
  if (state == 1)
    StartTest();
  else if (state == 0)
    Run.StopByUser();
}

void Vorsk::NotifyEnd(const RunResult &result) {
  const QStringList &lines = result.endLines;
  QString message = result.testTime.toString("'Durée du test' : hh:mm:ss");
  if (result.failure) {
    const char *name = m_SystemInfo.ProcessorName;
    message = QString::fromLatin1(
                  name, int(qstrnlen(name, sizeof m_SystemInfo.ProcessorName)))
                  .trimmed();
    if (lines.size() > 1)
      message += "\n" + lines.first();
  }
  notifyDesktop(TrayAvailable ? trayIcon : nullptr,
                {lines.last(), message, result.failure});
}

void Vorsk::ApplyShutdownRule() {
  if (Shutdown && Duration > 0) {
    bShutdownPending = true;
    close();
  }
}

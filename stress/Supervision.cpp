// The one-second supervision of a run: usage, test time, worker exits and
// the ends of a run.

#include "app/Vorsk.h"

#include "app/DesktopNotice.h"
#include "platform/Platform.h"
#include "stress/EngineContract.h"
#include "stress/RunMeasure.h"
#include "stress/ThreadStress.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QTimerEvent>

void Vorsk::timerEvent(QTimerEvent *event) {
  const int timer = event->timerId();
  if (timer == SensorTimer) {
    if (SensorTick())
      EndRunOnFailure({"Arrêt du test : température maximale atteinte !"},
                      COLOUR_STOPPED, TOOLTIP_FAILED);
    return;
  }
  if (timer != TestTimer)
    return;
  if (stopFlagLowByte(&bStopTest) == 1)
    CleanUpTick();
  else
    RunTick();
}

void Vorsk::CleanUpTick() {
  killTimer(TestTimer);
  // A killed identifier may be given to another timer later.
  TestTimer = 0;
  Platform &os = platform();
  // Time for the workers to see the flag and return.
  os.sleep(1000);
  ReportLateCalculationErrors();
  Journal.end();
  CloseWorkerHandles();
  ui.pushOptions->setEnabled(true);
  ui.comboDuration->setEnabled(true);
  ui.pushTest->setText("Démarrer");
  ui.pushTest->setEnabled(true);
}

void Vorsk::CloseWorkerHandles() {
  for (size_t i = 0; i < m_SystemInfo.hThread.size(); ++i) {
    ThreadHandle &thread = m_SystemInfo.hThread[i];
    if (thread) {
      platform().closeHandle(thread);
      thread = 0;
    }
  }
}

// A worker that finds an error in the unit it was running when the run was
// stopped returns it after the verdict was given; a stable verdict must not
// stand over a calculation error.
void Vorsk::ReportLateCalculationErrors() {
  bool unstable =
      ui.textLog->palette().color(QPalette::Base) == QColor(COLOUR_UNSTABLE);
  for (int i = 0; i < int(m_SystemInfo.hThread.size()); ++i) {
    uint32_t code = STILL_ACTIVE;
    if (i == ReportedWorker || !m_SystemInfo.hThread[i] ||
        !platform().getExitCodeThread(m_SystemInfo.hThread[i], &code))
      continue;
    const WorkerEnd end = DescribeWorkerEnd(i, code, WorkerSignal(i));
    if (!end.calculation)
      continue;
    AppendLog(end.line);
    if (!unstable) {
      AppendLog("Votre PC n'est pas stable !");
      SetLogColour(COLOUR_UNSTABLE);
      trayIcon->setToolTip(TOOLTIP_UNSTABLE);
      NotifyEnd({end.line, "Votre PC n'est pas stable !"}, true);
      PlayFailureSound();
      unstable = true;
    }
  }
}

void Vorsk::RunTick() {
  Platform &os = platform();
  // Frequency under load: a start sample on the first tick, then the
  // average since then on every tick of the first minute.
  if (TestTime <= QTime(0, 1, 0, 0)) {
    if (TestTime == QTime(0, 0, 0, 0)) {
      os.sleep(500);
      ui.pushTest->setText("Arrêter");
      ui.pushTest->setEnabled(true);
      BeginFrequency(800);
    } else if (EndFrequency(400)) {
      ui.labelFrequency->setText(
          sysinfo::frequencyText(m_SystemInfo.Frequency));
    }
  }

  const int count = int(m_SystemInfo.hThread.size());
  sysinfo::SampleProcessorClocks(count);
  double usage = 0.0;
  for (int i = 0; i < count; ++i) {
    const ThreadHandle thread = m_SystemInfo.hThread[i];
    uint32_t code = 0;
    if (!os.getExitCodeThread(thread, &code)) {
      EndRunOnFailure({"Arrêt du test : GetExitCodeThread failed !"},
                      COLOUR_STOPPED, TOOLTIP_FAILED);
      return;
    }
    if (code != STILL_ACTIVE) {
      WorkerEnded(i, code);
      return;
    }
    uint64_t userTime = 0;
    if (!os.getThreadUserTime(thread, &userTime)) {
      EndRunOnFailure({"Arrêt du test : GetThreadTimes failed !"},
                      COLOUR_STOPPED, TOOLTIP_FAILED);
      return;
    }
    const uint32_t now = os.timeGetTime();
    const int64_t wallMs = int32_t(now - m_SystemInfo.ThreadClock[i]);
    m_SystemInfo.ThreadClock[i] = now;
    const WorkerUsage worker =
        MeasureWorker(wallMs, userTime - m_SystemInfo.ThreadTime[i]);
    const int64_t credited = TestTimeCarry + worker.creditedMs;
    TestTime = TestTime.addMSecs(int(credited / count));
    TestTimeCarry = credited % count;
    m_SystemInfo.ThreadTime[i] = userTime;
    usage += worker.percent / count;
  }

  ui.labelBar->setText(QString::asprintf("%.1f %%", usage));
  ui.barCPU->setValue(int(usage));
  const QString elapsed = ElapsedText(TestTime);
  trayIcon->setToolTip(elapsed);
  ui.barTest->setFormat(elapsed);
  const int seconds = QTime(0, 0).secsTo(TestTime);
  ui.barTest->setValue(seconds % (ui.barTest->maximum() + 1));
  Journal.tick(TestTime);

  if (HardwareErrors.Rose()) {
    EndRunOnFailure({"Votre PC n'est pas stable !"}, COLOUR_UNSTABLE,
                    TOOLTIP_UNSTABLE);
    return;
  }
  if (TestTime > EndTime)
    ScheduledEnd();
}

void Vorsk::WorkerEnded(int worker, uint32_t code) {
  ReportedWorker = worker;
  StopTest();
  const WorkerEnd end = DescribeWorkerEnd(worker, code, WorkerSignal(worker));
  if (!end.reported)
    return;
  if (end.fromOutside)
    ReportFailure({end.line}, COLOUR_STOPPED, TOOLTIP_FAILED);
  else if (end.calculation)
    ReportFailure({end.line, "Votre PC n'est pas stable !"}, COLOUR_UNSTABLE,
                  TOOLTIP_UNSTABLE);
  else
    ReportFailure({end.line, "Votre système a provoqué une erreur !"},
                  COLOUR_STOPPED, TOOLTIP_FAILED);
}

// 0 when the worker was not killed by a signal, or when that is unknown.
int Vorsk::WorkerSignal(int worker) {
  int signal = 0;
  if (!platform().getWorkerSignal(m_SystemInfo.hThread[worker], &signal))
    return 0;
  return signal;
}

void Vorsk::ScheduledEnd() {
  const bool plausible = StopTest();
  AppendLog("Fin programmée du test.");
  if (HardwareErrorsFound) {
    ReportHardwareErrors();
  } else if (plausible) {
    AppendLog("Votre PC est stable !");
    SetLogColour(COLOUR_STABLE);
    PlaySuccessSound();
  } else {
    SetLogColour(COLOUR_STOPPED);
  }
  trayIcon->setToolTip(TOOLTIP_FINISHED);
  // Before the window comes back, while the tray icon still shows.
  NotifyEnd({plausible ? "Votre PC est stable !" : "Fin programmée du test."},
            false);
  showNormal();
  ApplyShutdownRule();
}

void Vorsk::EndRunOnFailure(const QStringList &lines, const char *colour,
                            const QString &toolTip) {
  StopTest();
  ReportFailure(lines, colour, toolTip);
}

void Vorsk::ReportFailure(const QStringList &lines, const char *colour,
                          const QString &toolTip) {
  for (const QString &line : lines)
    AppendLog(line);
  SetLogColour(colour);
  trayIcon->setToolTip(toolTip);
  NotifyEnd(lines, true);
  showNormal();
  PlayFailureSound();
  ApplyShutdownRule();
}

void Vorsk::NotifyEnd(const QStringList &lines, bool failure) {
  QString message = TestTime.toString("'Durée du test' : hh:mm:ss");
  if (failure) {
    const char *name = m_SystemInfo.ProcessorName;
    message = QString::fromLatin1(
                  name, int(qstrnlen(name, sizeof m_SystemInfo.ProcessorName)))
                  .trimmed();
    if (lines.size() > 1)
      message += "\n" + lines.first();
  }
  notifyDesktop(*trayIcon, {lines.last(), message, failure});
}

void Vorsk::ApplyShutdownRule() {
  if (Shutdown && Duration > 0) {
    bShutdownPending = true;
    close();
  }
}

// Starting and stopping a test run, and the pushTest toggle.

#include "app/Vorsk.h"

#include "platform/Platform.h"
#include "settings/SettingsKeys.h"
#include "settings/SoundPlayer.h"
#include "settings/Sounds.h"
#include "stress/EngineContract.h"
#include "stress/RunMeasure.h"
#include "stress/ThreadStress.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QTextBlock>
#include <QTextCursor>

int &bStopTest = workerStopFlag();

namespace {
// Starts worker i bound to `mask`; the failure line of the step that
// failed, or nullptr once the worker runs.
const char *startWorker(int i, const CpuSet &mask) {
  Platform &os = platform();
  SystemInfo &info = m_SystemInfo;
  // Reset before anything can fail: a worker left suspended must measure
  // from zero, not from the previous run's time.
  info.ThreadTime[i] = 0;
  info.ThreadClock[i] = os.timeGetTime();
  ThreadHandle &thread = info.hThread[i];
  thread = os.createWorkerSuspended(RunTestArgument);
  if (!thread)
    return "CreateThread failed.";
  if (!os.setThreadAffinityMask(thread, mask))
    return "SetThreadAffinityMask failed.";
  if (!os.setThreadPriority(thread, ThreadPriority::Normal))
    return "SetThreadPriority failed.";
  if (!os.setThreadPriorityBoost(thread, true))
    return "SetThreadPriorityBoost failed.";
  if (os.resumeThread(thread) == RESUME_FAILED)
    return "ResumeThread failed.";
  return nullptr;
}
} // namespace

void Vorsk::AppendLog(const QString &line) {
  ui.textLog->append(line);
  Journal.add(line);
}

// A run whose journal is still there never ended: the machine froze or
// restarted under the test, the gravest sign of an unstable processor.
void Vorsk::ShowInterruptedRun() {
  RunJournal::Interrupted run;
  if (!RunJournal::findInterrupted(&run))
    return;
  for (const QString &line : run.lines)
    AppendLog(line);
  AppendLog(QString("Le test précédent a été interrompu après %1 : la machine "
                    "s'est probablement figée ou a redémarré. Le processeur "
                    "doit être considéré comme instable.")
                .arg(run.testTime.toString("hh:mm:ss")));
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

// Calculations may all have been right: the verdict is still a failure.
void Vorsk::ReportHardwareErrors() {
  AppendLog("Votre PC n'est pas stable !");
  SetLogColour(COLOUR_UNSTABLE);
  PlayFailureSound();
}

bool Vorsk::StartTest() {
  ui.textLog->setPalette(palette());
  if (!ui.textLog->toPlainText().isEmpty())
    AppendSeparator();
  Journal.begin();
  TestTime = QTime(0, 0, 0, 0);
  TestTimeCarry = 0;
  ReportedWorker = -1;
  ui.barTest->setFormat("0 seconde");
  ui.barTest->setValue(0);
  ui.pushOptions->setEnabled(false);
  ui.comboDuration->setEnabled(false);
  ui.pushTest->setEnabled(false);
  HardwareErrors.Start();
  HardwareErrorsFound = false;
  setStopFlagLowByte(&bStopTest, 0);

  SystemInfo &info = m_SystemInfo;
  if (info.LogicalCount < info.OnlineCount)
    AppendLog(info.LogicalCount == 1
                  ? QString::asprintf("Test limité à 1 processeur logique sur "
                                      "%d (restriction d'affinité).",
                                      int(info.OnlineCount))
                  : QString::asprintf("Test limité à %d processeurs logiques "
                                      "sur %d (restriction d'affinité).",
                                      int(info.LogicalCount),
                                      int(info.OnlineCount)));
  info.hThread.assign(info.LogicalCount, 0);
  info.ThreadClock.assign(info.LogicalCount, 0);
  info.ThreadTime.assign(info.LogicalCount, 0);
  info.ClockSumKHz.assign(info.Processor.size(), 0);
  info.ClockSamples.assign(info.Processor.size(), 0);
  // One worker per processor the process may run on; a worker that could
  // not be started leaves its processor to the next (the last ones then get
  // none, and fail).
  size_t next = 0;
  for (int i = 0; i < info.LogicalCount; ++i) {
    CpuSet mask;
    if (next < info.Processor.size())
      mask = CpuSet::single(info.Processor[next]);
    if (const char *failure = startWorker(i, mask))
      AppendLog(failure);
    else
      ++next;
  }
  TestTimer = startTimer(1000);
  return true;
}

bool Vorsk::StopTest() {
  setStopFlagLowByte(&bStopTest, 1);
  // Shown whatever the final sample gave: the last frequency known. Where
  // the kernel published the worker processors' clocks during the run, they
  // are the clock under load, turbo and throttling included.
  EndFrequency(800);
  double mhz = 0;
  const QString clocks = sysinfo::processorClocksLine(&mhz);
  if (!clocks.isEmpty())
    m_SystemInfo.Frequency = mhz;
  const QString frequency = sysinfo::frequencyText(m_SystemInfo.Frequency);
  ui.labelFrequency->setText(frequency);
  AppendLog(clocks.isEmpty() ? "Fréquence : " + frequency : clocks);
  SensorRunEnded();
  AppendLog(TestTime.toString("'Durée du test' : hh:mm:ss"));

  uint64_t userTime = 0;
  for (uint64_t workerTime : m_SystemInfo.ThreadTime)
    userTime += workerTime;
  const double usage = AverageUsage(userTime, TestMilliseconds(TestTime),
                                    m_SystemInfo.LogicalCount);
  AppendLog(QString::asprintf("Utilisation CPU : %.1f %%", usage));

  ui.labelBar->setText("0.0%");
  ui.barCPU->setValue(80);
  ui.pushTest->setEnabled(false);

  bool plausible = true;
  if (usage < 90.0) {
    AppendLog("Celle-ci doit être supérieur à 90% !");
    plausible = false;
  } else if (usage > 100.0) {
    AppendLog("Pourcentage d'utilisation CPU incorrect !");
    plausible = false;
  }
  for (const QString &line : HardwareErrors.EndLines(&HardwareErrorsFound))
    AppendLog(line);
  return plausible;
}

void Vorsk::on_pushTest_clicked() {
  const unsigned char state = stopFlagLowByte(&bStopTest);
  if (state == 1) {
    StartTest();
    return;
  }
  if (state != 0)
    return;

  const bool plausible = StopTest();
  AppendLog("Test stoppé par l'utilisateur.");
  trayIcon->setToolTip(TOOLTIP_IDLE);
  if (HardwareErrorsFound) {
    ReportHardwareErrors();
    return;
  }
  if (plausible && TestTime.hour() >= 1) {
    AppendLog("Votre PC est stable !");
    SetLogColour(COLOUR_STABLE);
    PlaySuccessSound();
    return;
  }
  if (plausible)
    AppendLog("Le test doit durer 1h minimum !");
  SetLogColour(COLOUR_STOPPED);
}

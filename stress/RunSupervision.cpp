// The one-second supervision of a run: usage, test time, worker exits and
// the ends of a run.

#include "stress/RunController.h"

#include "platform/Platform.h"
#include "stress/EngineContract.h"
#include "stress/RunMeasure.h"
#include "stress/ThreadStress.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QTimerEvent>

#include <cmath>

namespace {
// How long closing waits, in all, for the workers to see the stop flag
// before it kills the rest, and for a killed worker to be gone.
const uint32_t CLOSE_GRACE_MS = 500;
const uint32_t KILL_WAIT_MS = 200;
// Longer than any pause of the alternating load: the machine slept.
const int64_t PAUSE_MAX_MS = 10000;
} // namespace

void RunController::timerEvent(QTimerEvent *event) {
  const int timer = event->timerId();
  if (timer == SensorTimer) {
    if (SensorTick())
      EndRunOnFailure({"Arrêt du test : température maximale atteinte !"},
                      COLOUR_STOPPED, TOOLTIP_FAILED, RunVerdict::Temperature);
    return;
  }
  if (timer != TestTimer)
    return;
  if (stopFlagLowByte(&bStopTest) == 1)
    CleanUpTick();
  else
    SupervisionTick();
}

void RunController::CleanUpTick() {
  killTimer(TestTimer);
  // A killed identifier may be given to another timer later.
  TestTimer = 0;
  // Time for the workers to see the flag and return.
  platform().sleep(1000);
  ReportLateCalculationErrors();
  Journal.end();
  emit workersEnded();
  CloseWorkerHandles();
  emit runClosed();
}

void RunController::CloseWorkerHandles() {
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
void RunController::ReportLateCalculationErrors() {
  bool unstable = Colour && qstrcmp(Colour, COLOUR_UNSTABLE) == 0;
  for (int i = 0; i < int(m_SystemInfo.hThread.size()); ++i) {
    uint32_t code = STILL_ACTIVE;
    if (i == ReportedWorker || !m_SystemInfo.hThread[i] ||
        !platform().getExitCodeThread(m_SystemInfo.hThread[i], &code))
      continue;
    const WorkerEnd end = DescribeWorkerEnd(i, code, WorkerSignal(i));
    if (!end.calculation)
      continue;
    Log(end.line);
    if (!unstable) {
      Log("Votre PC n'est pas stable !");
      SetColour(COLOUR_UNSTABLE);
      emit toolTip(TOOLTIP_UNSTABLE);
      emit endNotice({end.line, "Votre PC n'est pas stable !"}, true);
      emit verdictSound(false);
      SetVerdict(RunVerdict::Unstable);
      unstable = true;
    }
  }
}

void RunController::SupervisionTick() {
  Platform &os = platform();
  const sysinfo::LogLine log = [this](const QString &line) { Log(line); };
  // Frequency under load: a start sample on the first tick, then the
  // average since then on every tick of the first minute.
  bool loadFrequency = false;
  if (TestTime <= QTime(0, 1, 0, 0)) {
    if (TestTime == QTime(0, 0, 0, 0)) {
      os.sleep(500);
      emit stopAllowed();
      sysinfo::BeginFrequency(800, log);
    } else if (sysinfo::EndFrequency(400, log)) {
      emit frequency(sysinfo::frequencyText(m_SystemInfo.Frequency));
      loadFrequency = true;
    }
  }

  const int count = int(m_SystemInfo.hThread.size());
  // Idle processors of the per-core and alternating modes would pull the
  // clock under load down.
  std::vector<int> loadedEntries;
  for (int i = 0; i < count; ++i)
    if (Loaded[size_t(i)])
      loadedEntries.push_back(m_SystemInfo.WorkerEntry[size_t(i)]);
  double clock = sysinfo::SampleProcessorClocks(loadedEntries);
  const int loaded = int(loadedEntries.size());
  double usage = 0.0;
  int64_t pauseMs = 0;
  for (int i = 0; i < count; ++i) {
    const ThreadHandle thread = m_SystemInfo.hThread[i];
    uint32_t code = 0;
    if (!os.getExitCodeThread(thread, &code)) {
      EndRunOnFailure({"Arrêt du test : GetExitCodeThread failed !"},
                      COLOUR_STOPPED, TOOLTIP_FAILED, RunVerdict::Failed);
      return;
    }
    if (code != STILL_ACTIVE) {
      WorkerEnded(i, code);
      return;
    }
    uint64_t userTime = 0;
    if (!os.getThreadUserTime(thread, &userTime)) {
      EndRunOnFailure({"Arrêt du test : GetThreadTimes failed !"},
                      COLOUR_STOPPED, TOOLTIP_FAILED, RunVerdict::Failed);
      return;
    }
    const uint32_t now = os.timeGetTime();
    const int64_t wallMs = int32_t(now - m_SystemInfo.ThreadClock[i]);
    m_SystemInfo.ThreadClock[i] = now;
    const uint64_t userDelta = userTime - m_SystemInfo.ThreadTime[i];
    m_SystemInfo.ThreadTime[i] = userTime;
    if (!Loaded[size_t(i)]) {
      pauseMs = wallMs;
      continue;
    }
    const WorkerUsage worker = MeasureWorker(wallMs, userDelta);
    const int64_t credited = TestTimeCarry + worker.creditedMs;
    TestTime = TestTime.addMSecs(int(credited / loaded));
    TestTimeCarry = credited % loaded;
    LoadedUserTime += userDelta;
    LoadedMs += worker.creditedMs;
    usage += worker.percent / loaded;
  }
  // A pause of the whole run is test time too, though no processor time:
  // unless the machine slept through it.
  if (loaded == 0 && pauseMs > 0 && pauseMs <= PAUSE_MAX_MS)
    TestTime = TestTime.addMSecs(int(pauseMs));

  // The clock of the tick: the kernel's, else the first minute's samples.
  if (std::isnan(clock) && loadFrequency)
    clock = m_SystemInfo.Frequency;
  emit tick({TestTime, usage, Temperature, Vcore, clock});
  Journal.tick(TestTime);
  if (Mode.kind == TestModeKind::PerCore)
    AnnounceCore();
  ++Interval;
  ApplyMode();

  if (HardwareErrors.Rose()) {
    EndRunOnFailure({"Votre PC n'est pas stable !"}, COLOUR_UNSTABLE,
                    TOOLTIP_UNSTABLE, RunVerdict::Unstable);
    return;
  }
  if (TestTime > EndTime)
    ScheduledEnd();
}

void RunController::WorkerEnded(int worker, uint32_t code) {
  ReportedWorker = worker;
  StopTest();
  const WorkerEnd end = DescribeWorkerEnd(worker, code, WorkerSignal(worker));
  if (!end.reported) {
    SetVerdict(RunVerdict::Stopped);
    return;
  }
  QStringList lines{end.line};
  const int core = CoreOf(worker);
  if (core >= 0)
    lines << QString("Erreur sur le cœur %1 (%2).")
                 .arg(core)
                 .arg(logicalProcessorsText(m_SystemInfo, Cores[size_t(core)]));
  if (end.fromOutside)
    ReportFailure(lines, COLOUR_STOPPED, TOOLTIP_FAILED, RunVerdict::Stopped);
  else if (end.calculation)
    ReportFailure(lines << "Votre PC n'est pas stable !", COLOUR_UNSTABLE,
                  TOOLTIP_UNSTABLE, RunVerdict::Unstable);
  else
    ReportFailure(lines << "Votre système a provoqué une erreur !",
                  COLOUR_STOPPED, TOOLTIP_FAILED, RunVerdict::Failed);
}

// 0 when the worker was not killed by a signal, or when that is unknown.
int RunController::WorkerSignal(int worker) {
  int signal = 0;
  if (!platform().getWorkerSignal(m_SystemInfo.hThread[worker], &signal))
    return 0;
  return signal;
}

void RunController::ScheduledEnd() {
  const bool plausible = StopTest();
  Log("Fin programmée du test.");
  if (HardwareErrorsFound) {
    ReportHardwareErrors();
  } else if (plausible) {
    Log("Votre PC est stable !");
    SetColour(COLOUR_STABLE);
    emit verdictSound(true);
    SetVerdict(RunVerdict::Stable);
  } else {
    SetColour(COLOUR_STOPPED);
    SetVerdict(RunVerdict::Usage);
  }
  emit toolTip(TOOLTIP_FINISHED);
  // Before the window comes back, while the tray icon still shows; it says
  // what the log says, hardware errors first.
  if (HardwareErrorsFound)
    emit endNotice({"Votre PC n'est pas stable !"}, true);
  else
    emit endNotice(
        {plausible ? "Votre PC est stable !" : "Fin programmée du test."},
        false);
  emit restoreWindow();
  emit endedUnattended();
}

void RunController::EndRunOnFailure(const QStringList &lines,
                                    const char *colour, const QString &toolTip,
                                    RunVerdict verdict) {
  StopTest();
  ReportFailure(lines, colour, toolTip, verdict);
}

void RunController::ReportFailure(const QStringList &lines, const char *colour,
                                  const QString &tip, RunVerdict verdict) {
  for (const QString &line : lines)
    Log(line);
  SetColour(colour);
  emit toolTip(tip);
  emit endNotice(lines, true);
  emit restoreWindow();
  emit verdictSound(false);
  SetVerdict(verdict);
  emit endedUnattended();
}

// Raise the stop flag, give the workers a short grace to return on their
// own, then kill those that did not: closing never waits on a deaf engine.
void RunController::StopWorkers() {
  Platform &os = platform();
  setStopFlagLowByte(&bStopTest, 1);
  LoadAll();
  const uint32_t deadline = os.timeGetTime() + CLOSE_GRACE_MS;
  for (const ThreadHandle thread : m_SystemInfo.hThread) {
    if (!thread)
      continue;
    const int32_t left = int32_t(deadline - os.timeGetTime());
    if (os.waitForThread(thread, left > 0 ? uint32_t(left) : 0) !=
        WaitResult::Ended)
      os.terminateThread(thread, KILL_WAIT_MS);
  }
}

void RunController::Close() {
  if (SensorTimer != 0)
    killTimer(SensorTimer);
  SensorTimer = 0;
  if (TestTimer != 0)
    killTimer(TestTimer);
  TestTimer = 0;
  // A run that already has its verdict (a timed end closing the window for
  // the shutdown) still hears from its last units; one cut off here gets none.
  const bool judged = stopFlagLowByte(&bStopTest) == 1;
  StopWorkers();
  if (judged)
    ReportLateCalculationErrors();
  CloseWorkerHandles();
}

// The one-second supervision of a run: usage, test time, worker exits and
// the ends of a run.

#include "stress/RunController.h"

#include "platform/EngineContract.h"
#include "platform/Platform.h"
#include "stress/FailureDetail.h"
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
// A renewal's references take well under a second to recompute three
// times, even on the largest units.
const uint32_t RECHECK_WAIT_MS = 5000;
const uint32_t RECHECK_POLL_MS = 20;

// "0 et 1", "0, 1 et 2".
QString workersText(const std::vector<int> &workers) {
  QString text;
  for (size_t i = 0; i < workers.size(); ++i)
    text += (i == 0                    ? ""
             : i + 1 == workers.size() ? " et "
                                       : ", ") +
            QString::number(workers[i]);
  return text;
}

bool answered(ThreadHandle worker, uint64_t renewal) {
  const WorkerPage *page = platform().workerPage(worker);
  return page &&
         __atomic_load_n(&page->recheckAnswer, __ATOMIC_ACQUIRE) == renewal + 1;
}

bool ended(ThreadHandle worker) {
  uint32_t code = STILL_ACTIVE;
  return !platform().getExitCodeThread(worker, &code) || code != STILL_ACTIVE;
}
} // namespace

void RunController::timerEvent(QTimerEvent *event) {
  const int timer = event->timerId();
  if (timer == SensorTimer)
    TickSensors();
  else if (timer == TestTimer)
    Tick();
}

void RunController::Tick() {
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
  ReadWorkerEnds();
  emit resultReady(Outcome);
  CloseWorkerHandles();
  emit runClosed();
}

void RunController::ReadWorkerEnds() {
  for (size_t i = 0; i < Workers.hThread.size(); ++i) {
    WorkerResult &worker = Outcome.workers[i];
    const ThreadHandle handle = Workers.hThread[i];
    if (!handle)
      continue;
    if (platform().getExitCodeThread(handle, &worker.code) &&
        worker.code != STILL_ACTIVE)
      worker.signal = WorkerSignal(int(i));
    // The units a worker finished after the stop were verified too.
    platform().getWorkerCounters(handle, &worker.verified);
    worker.failure = WorkerFailure(int(i));
  }
}

void RunController::CloseWorkerHandles() {
  for (size_t i = 0; i < Workers.hThread.size(); ++i) {
    ThreadHandle &thread = Workers.hThread[i];
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
  for (int i = 0; i < int(Workers.hThread.size()); ++i) {
    uint32_t code = STILL_ACTIVE;
    if (i == ReportedWorker || !Workers.hThread[i] ||
        !platform().getExitCodeThread(Workers.hThread[i], &code))
      continue;
    const FailureRecord record = WorkerFailure(i);
    const WorkerEnd end =
        DescribeWorkerEnd(i, code, WorkerSignal(i), record.partner);
    if (!end.calculation)
      continue;
    Log(end.line);
    if (record.check != FAILURE_NONE)
      Log(failureDetailLine(record));
    if (!unstable) {
      Log("Votre PC n'est pas stable !");
      SetColour(COLOUR_UNSTABLE);
      emit toolTip(TOOLTIP_UNSTABLE);
      Notify({end.line, "Votre PC n'est pas stable !"}, true);
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
      emit frequency(sysinfo::frequencyText(Machine->Frequency));
      loadFrequency = true;
    }
  }

  const int count = int(Workers.hThread.size());
  // Idle processors of the per-core and alternating modes would pull the
  // clock under load down.
  std::vector<int> loadedEntries;
  for (int i = 0; i < count; ++i)
    if (Loaded[size_t(i)])
      loadedEntries.push_back(Workers.WorkerEntry[size_t(i)]);
  double clock =
      sysinfo::SampleProcessorClocks(Workers.LoadClocks, loadedEntries);
  const int loaded = int(loadedEntries.size());
  double usage = 0.0;
  int64_t pauseMs = 0;
  for (int i = 0; i < count; ++i) {
    const ThreadHandle thread = Workers.hThread[i];
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
    const int64_t wallMs = int32_t(now - Workers.ThreadClock[i]);
    Workers.ThreadClock[i] = now;
    const uint64_t userDelta = userTime - Workers.ThreadTime[i];
    Workers.ThreadTime[i] = userTime;
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
    clock = Machine->Frequency;
  emit tick({TestTime, usage, clock});
  Journal.tick(TestTime);
  if (Mode.kind == TestModeKind::PerCore)
    AnnounceCore();
  ++Interval;
  ApplyMode();

  if (CompareWorkers())
    return;
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
  const FailureRecord record = WorkerFailure(worker);
  const WorkerEnd end =
      DescribeWorkerEnd(worker, code, WorkerSignal(worker), record.partner);
  if (!end.reported) {
    SetVerdict(RunVerdict::Stopped);
    return;
  }
  QStringList lines{end.line};
  if (end.calculation && record.check != FAILURE_NONE)
    lines << failureDetailLine(record);
  const int core = CoreOf(worker);
  if (core >= 0)
    lines << QString("Erreur sur le cœur %1 (%2).")
                 .arg(core)
                 .arg(logicalProcessorsText(*Machine, Cores[size_t(core)]));
  if (end.fromOutside)
    ReportFailure(lines, COLOUR_STOPPED, TOOLTIP_FAILED, RunVerdict::Stopped);
  else if (end.calculation)
    ReportFailure(lines << "Votre PC n'est pas stable !", COLOUR_UNSTABLE,
                  TOOLTIP_UNSTABLE, RunVerdict::Unstable);
  else
    ReportFailure(lines << "Votre système a provoqué une erreur !",
                  COLOUR_STOPPED, TOOLTIP_FAILED, RunVerdict::Failed);
}

FailureRecord RunController::WorkerFailure(int worker) const {
  FailureRecord record;
  if (worker < 0 || worker >= int(Workers.hThread.size()))
    return record;
  if (size_t(worker) < Failures.size() &&
      Failures[size_t(worker)].check != FAILURE_NONE)
    return Failures[size_t(worker)];
  if (const WorkerPage *page =
          platform().workerPage(Workers.hThread[size_t(worker)]))
    readFailure(*page, &record);
  return record;
}

bool RunController::CompareWorkers() {
  const int count = int(Workers.hThread.size());
  for (int i = 0; i < count; ++i)
    if (const WorkerPage *page = platform().workerPage(Workers.hThread[i]))
      Agree.read(i, *page);
  const std::vector<Disagreement> found = Agree.take();
  if (found.empty())
    return false;
  QStringList lines;
  for (const Disagreement &d : found)
    lines << Recheck(d);
  EndRunOnFailure(lines << "Votre PC n'est pas stable !", COLOUR_UNSTABLE,
                  TOOLTIP_UNSTABLE, RunVerdict::Unstable);
  return true;
}

// A worker against the majority failed; without a majority, the recomputed
// references tell which worker changes its answer, where one does.
QStringList RunController::Recheck(const Disagreement &d) {
  Platform &os = platform();
  const std::vector<ThreadHandle> &threads = Workers.hThread;
  for (int w : d.workers) {
    if (WorkerPage *page = os.workerPage(threads[size_t(w)]))
      __atomic_store_n(&page->recheckRequest, d.renewal + 1, __ATOMIC_RELEASE);
    // A paused worker would never answer.
    os.pauseWorker(threads[size_t(w)], false);
  }
  const uint32_t deadline = os.timeGetTime() + RECHECK_WAIT_MS;
  auto waiting = [&] {
    for (int w : d.workers)
      if (!answered(threads[size_t(w)], d.renewal) &&
          !ended(threads[size_t(w)]))
        return true;
    return false;
  };
  while (waiting() && int32_t(deadline - os.timeGetTime()) > 0)
    os.sleep(RECHECK_POLL_MS);

  const QString calculation = QString("(renouvellement %1, calcul %2).")
                                  .arg(d.renewal)
                                  .arg(workerPathName(d.path));
  QStringList lines, details;
  if (!d.majority)
    lines << QString("Les processeurs %1 ne calculent pas pareil %2")
                 .arg(workersText(d.workers), calculation);
  size_t answers = 0, changes = 0;
  for (size_t k = 0; k < d.workers.size(); ++k) {
    const int w = d.workers[k];
    FailureRecord r;
    r.check = FAILURE_AGREEMENT;
    r.path = d.path;
    r.kind = 1;
    r.renewal = int64_t(d.renewal);
    r.renewalSeed = renewalSeed(RunSeed, long(d.renewal));
    r.expected = d.majority ? d.expected : d.obtained[k == 0 ? 1 : 0];
    r.obtained = d.obtained[k];
    r.elapsedNs = d.elapsedNs[k];
    const WorkerPage *page = os.workerPage(threads[size_t(w)]);
    if (page && answered(threads[size_t(w)], d.renewal)) {
      r.retries = FAILURE_RETRIES;
      ++answers;
      // Against the majority, the wrong answer coming back; without one,
      // the worker's own answer coming back.
      for (int t = 0; t < FAILURE_RETRIES; ++t) {
        const uint64_t again = page->recheckDigest[t][d.kind];
        r.reproduced += d.majority ? again != d.expected : again == r.obtained;
      }
      if (!d.majority && r.reproduced < r.retries && ++changes)
        lines << QString("Le processeur %1 change de réponse en recalculant "
                         "(%2 sur %3).")
                     .arg(w)
                     .arg(r.retries - r.reproduced)
                     .arg(r.retries);
    }
    if (d.majority)
      lines << QString("Le processeur %1 ne calcule pas comme les autres %2")
                   .arg(w)
                   .arg(calculation)
            << failureDetailLine(r, w);
    else
      details << failureDetailLine(r, w);
    Failures[size_t(w)] = r;
  }
  if (!d.majority && changes == 0 && answers == d.workers.size())
    lines << QString("Aucun ne change de réponse en recalculant (%1 fois "
                     "chacun).")
                 .arg(FAILURE_RETRIES);
  return lines + details;
}

// 0 when the worker was not killed by a signal, or when that is unknown.
int RunController::WorkerSignal(int worker) {
  int signal = 0;
  if (!platform().getWorkerSignal(Workers.hThread[worker], &signal))
    return 0;
  return signal;
}

void RunController::ScheduledEnd() {
  const bool plausible = StopTest();
  Log("Fin programmée du test.");
  const bool hardwareErrors = !Outcome.hardwareErrorRises.empty();
  if (hardwareErrors) {
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
  if (hardwareErrors)
    Notify({"Votre PC n'est pas stable !"}, true);
  else
    Notify({plausible ? "Votre PC est stable !" : "Fin programmée du test."},
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
  Notify(lines, true);
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
  for (const ThreadHandle thread : Workers.hThread) {
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

// Starting and stopping a test run, its log and its verdict.

#include "stress/RunController.h"

#include "platform/EngineContract.h"
#include "platform/Platform.h"
#include "stress/RunMeasure.h"
#include "stress/ThreadStress.h"
#include "stress/VerifiedArithmetic.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QRandomGenerator>

int &bStopTest = workerStopFlag();

namespace {
// Starts worker i bound to `mask`; the failure line of the step that
// failed, or nullptr once the worker runs.
const char *startWorker(RunState &state, int i, const CpuSet &mask,
                        int engineArgument, uint64_t seed, bool partnered) {
  Platform &os = platform();
  // Reset before anything can fail: a worker left suspended must measure
  // from zero, not from the previous run's time.
  state.ThreadTime[i] = 0;
  state.ThreadClock[i] = os.timeGetTime();
  ThreadHandle &thread = state.hThread[i];
  thread = os.createWorkerSuspended(engineArgument);
  if (!thread)
    return "CreateThread failed.";
  if (WorkerPage *page = os.workerPage(thread)) {
    page->runSeed = seed;
    page->worker = partnered ? i : -1;
  }
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

RunController::RunController(QObject *parent) : QObject(parent) {
  qRegisterMetaType<RunTick>();
  qRegisterMetaType<RunVerdict>();
}

void RunController::SetDuration(int seconds) {
  EndTime = seconds == 0 ? QTime(23, 59, 0) : QTime(0, 0, 0).addSecs(seconds);
}

bool RunController::Running() const { return stopFlagLowByte(&bStopTest) == 0; }

void RunController::Log(const QString &line) {
  Journal.add(line);
  emit logLine(line);
}

void RunController::EndJournal() { Journal.end(); }

void RunController::SetColour(const char *colour) {
  Colour = colour;
  emit logColour(colour);
}

void RunController::SetVerdict(RunVerdict verdict) {
  Outcome.verdict = verdict;
  emit runEnded(verdict);
}

void RunController::Notify(const QStringList &lines, bool failure) {
  Outcome.endLines = lines;
  Outcome.failure = failure;
  emit endNotice(Outcome);
}

// Calculations may all have been right: the verdict is still a failure.
void RunController::ReportHardwareErrors() {
  Log("Votre PC n'est pas stable !");
  SetColour(COLOUR_UNSTABLE);
  emit verdictSound(false);
  SetVerdict(RunVerdict::Unstable);
}

void RunController::Start(SystemInfo &machine, int engineArgument) {
  Machine = &machine;
  EngineArgument = engineArgument;
  Colour = nullptr;
  Outcome = RunResult{};
  // Without it, a freeze of the machine leaves no trace of the run.
  const bool journal = Journal.begin();
  RunSeed = RequestedSeed;
  while (RunSeed == 0)
    RunSeed = QRandomGenerator::system()->generate64();
  // First, so that any run can be replayed with its data.
  Log(QString::asprintf("Graine du test : %016llX",
                        (unsigned long long)RunSeed));
  if (!journal)
    Log(QString::fromUtf8("Écriture impossible dans le dossier de travail : "
                          "le journal du test en cours (%1) ne sera pas "
                          "conservé.")
            .arg(RunJournal::fileName()));
  TestTime = QTime(0, 0, 0, 0);
  TestTimeCarry = 0;
  ReportedWorker = -1;
  HardwareErrors.Start();
  setStopFlagLowByte(&bStopTest, 0);

  const SystemInfo &info = machine;
  if (info.LogicalCount < info.OnlineCount)
    Log(info.LogicalCount == 1
            ? QString::asprintf("Test limité à 1 processeur logique sur "
                                "%d (restriction d'affinité).",
                                int(info.OnlineCount))
            : QString::asprintf("Test limité à %d processeurs logiques "
                                "sur %d (restriction d'affinité).",
                                int(info.LogicalCount), int(info.OnlineCount)));
  Workers.hThread.assign(info.LogicalCount, 0);
  Failures.assign(size_t(info.LogicalCount), FailureRecord{});
  Workers.ThreadClock.assign(info.LogicalCount, 0);
  Workers.ThreadTime.assign(info.LogicalCount, 0);
  Workers.WorkerEntry.assign(info.LogicalCount, -1);
  Workers.LoadClocks.assign(info.Processor.size(), LoadClock{});
  // One worker per processor the process may run on; a worker that could
  // not be started leaves its processor to the next (the last ones then get
  // none, and fail).
  size_t next = 0;
  // Workers pass messages in a ring, except where most of them idle.
  const bool partnered =
      platform().openRunRegion(Mode.kind == TestModeKind::PerCore
                                   ? 0
                                   : info.LogicalCount) != nullptr;
  for (int i = 0; i < info.LogicalCount; ++i) {
    CpuSet mask;
    if (next < info.Processor.size())
      mask = CpuSet::single(info.Processor[next]);
    if (const char *failure =
            startWorker(Workers, i, mask, EngineArgument, RunSeed, partnered))
      Log(failure);
    else if (next < info.Processor.size())
      Workers.WorkerEntry[size_t(i)] = int(next++);
  }
  Cores = coresOf(info);
  // Per-core with one worker per core: the other workers never run.
  std::vector<bool> voters(size_t(info.LogicalCount), true);
  if (Mode.kind == TestModeKind::PerCore && !Mode.everyThread) {
    voters.assign(voters.size(), false);
    for (const std::vector<int> &core : Cores)
      for (int entry : core)
        if (const int worker = WorkerOn(entry); worker >= 0) {
          voters[size_t(worker)] = true;
          break;
        }
  }
  Agree = Agreement(voters);
  Loaded.assign(info.LogicalCount, true);
  Interval = 0;
  CurrentCore = AnnouncedCore = -1;
  LoadedUserTime = 0;
  LoadedMs = 0;
  ApplyMode();
  TestTimer = startTimer(1000);
  emit runStarted();
}

bool RunController::StopTest() {
  setStopFlagLowByte(&bStopTest, 1);
  LoadAll();
  const sysinfo::LogLine log = [this](const QString &line) { Log(line); };
  // Shown whatever the final sample gave: the last frequency known. Where
  // the worker processors' clocks were measured during the run, they are the
  // clock under load, turbo and throttling included.
  sysinfo::EndFrequency(800, log);
  double mhz = 0;
  const QString clocks = sysinfo::processorClocksLine(Workers.LoadClocks, &mhz);
  if (!clocks.isEmpty())
    Machine->Frequency = mhz;
  const QString shown = sysinfo::frequencyText(Machine->Frequency);
  emit frequency(shown);
  Log(clocks.isEmpty() ? "Fréquence : " + shown : clocks);
  SensorRunEnded();
  Outcome.testTime = TestTime;
  Log(TestTime.toString("'Durée du test' : hh:mm:ss"));

  const double usage = AverageUsage(LoadedUserTime, LoadedMs, 1);
  Outcome.usage = usage;
  Log(QString::asprintf("Utilisation CPU : %.1f %%", usage));
  emit runStopped();

  bool plausible = true;
  if (usage < 90.0) {
    Log("Celle-ci doit être supérieur à 90% !");
    plausible = false;
  } else if (usage > 100.0) {
    Log("Pourcentage d'utilisation CPU incorrect !");
    plausible = false;
  }
  Outcome.workers.assign(Workers.hThread.size(), WorkerResult{});
  for (size_t i = 0; i < Workers.hThread.size(); ++i) {
    WorkerResult &worker = Outcome.workers[i];
    worker.entry = Workers.WorkerEntry[i];
    if (Workers.hThread[i])
      platform().getWorkerCounters(Workers.hThread[i], &worker.verified);
  }
  Log(VerifiedArithmeticLine(TotalVerified(Outcome.workers)));
  Outcome.hardwareErrorsWatched = HardwareErrors.Watched();
  Outcome.hardwareErrorRises = HardwareErrors.Rises();
  for (const QString &line : hardwareErrorLines(Outcome.hardwareErrorsWatched,
                                                Outcome.hardwareErrorRises))
    Log(line);
  return plausible;
}

void RunController::StopByUser() {
  if (!Running())
    return;
  const bool plausible = StopTest();
  Log("Test stoppé par l'utilisateur.");
  emit toolTip(TOOLTIP_IDLE);
  if (!Outcome.hardwareErrorRises.empty()) {
    ReportHardwareErrors();
    return;
  }
  if (plausible && TestTime.hour() >= 1) {
    Log("Votre PC est stable !");
    SetColour(COLOUR_STABLE);
    emit verdictSound(true);
    SetVerdict(RunVerdict::Stable);
    return;
  }
  if (plausible)
    Log("Le test doit durer 1h minimum !");
  SetColour(COLOUR_STOPPED);
  SetVerdict(plausible ? RunVerdict::Stopped : RunVerdict::Usage);
}

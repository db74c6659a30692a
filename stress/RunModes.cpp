// The test modes' side of a run: which workers run in each supervision
// interval, and the per-core lines.

#include "stress/RunController.h"

#include "platform/Platform.h"
#include "sysinfo/SystemInfo.h"

void RunController::ApplyMode() {
  const size_t count = Workers.hThread.size();
  std::vector<bool> wanted(count, true);
  if (Mode.kind == TestModeKind::PerCore && !Cores.empty()) {
    CurrentCore = coreAt(TestTime, Mode.coreMinutes, int(Cores.size()));
    wanted.assign(count, false);
    for (int entry : Cores[size_t(CurrentCore)]) {
      const int worker = WorkerOn(entry);
      if (worker < 0)
        continue;
      wanted[size_t(worker)] = true;
      if (!Mode.everyThread)
        break;
    }
  } else if (Mode.kind == TestModeKind::Alternating &&
             !alternatingRuns(Interval)) {
    wanted.assign(count, false);
  }
  for (size_t i = 0; i < count; ++i) {
    if (wanted[i] == Loaded[i])
      continue;
    if (Workers.hThread[i])
      platform().pauseWorker(Workers.hThread[i], !wanted[i]);
    Loaded[i] = wanted[i];
  }
}

void RunController::LoadAll() {
  for (size_t i = 0; i < Loaded.size(); ++i)
    if (!Loaded[i]) {
      if (Workers.hThread[i])
        platform().pauseWorker(Workers.hThread[i], false);
      Loaded[i] = true;
    }
}

void RunController::AnnounceCore() {
  if (CurrentCore < 0 || CurrentCore == AnnouncedCore)
    return;
  AnnouncedCore = CurrentCore;
  const std::vector<int> &core = Cores[size_t(CurrentCore)];
  QString line = QString("Cœur %1 (%2)")
                     .arg(CurrentCore)
                     .arg(logicalProcessorsText(*Machine, core));
  uint64_t kHz = 0;
  if (platform().processorClockKHz(Machine->Processor[size_t(core[0])], &kHz))
    line += QString::asprintf(" : %.1f MHz", double(kHz) / 1000.0);
  Log(line + ".");
}

int RunController::WorkerOn(int entry) const {
  const std::vector<int> &entries = Workers.WorkerEntry;
  for (size_t worker = 0; worker < entries.size(); ++worker)
    if (entries[worker] == entry)
      return int(worker);
  return -1;
}

int RunController::CoreOf(int worker) const {
  if (Mode.kind != TestModeKind::PerCore ||
      size_t(worker) >= Workers.WorkerEntry.size())
    return -1;
  const int entry = Workers.WorkerEntry[size_t(worker)];
  for (size_t core = 0; core < Cores.size(); ++core)
    for (int i : Cores[core])
      if (i == entry)
        return int(core);
  return -1;
}

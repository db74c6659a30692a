#pragma once

#include "platform/RunRegion.h"
#include "platform/WorkerCounters.h"
#include "platform/WorkerPage.h"

#include <cstdint>
#include <string>

#include <sys/types.h>

// Worker processes: the program's side (spawn, gate, wait, kill, reap,
// counts) and the worker program's side (the inherited stop flag, gate and
// counts). The worker finds the stop flag on descriptor 3, the read end of
// its gate on 4, its page of counts on 5, its WorkerPage on 6 and the run's
// RunRegion, where there is one, on 7; its only argument is RunTest's.

constexpr int WorkerStopFlagDescriptor = 3;
constexpr int WorkerGateDescriptor = 4;
constexpr int WorkerCountersDescriptor = 5;
constexpr int WorkerPageDescriptor = 6;
constexpr int WorkerRegionDescriptor = 7;

// The worker program the platform spawns: vorsk-worker beside the
// executable, unless set (tests run from folders of their own).
void setWorkerProgram(const std::string &path);
std::string workerProgram();

// One worker process seen from the program. Not thread-safe: the platform
// serialises calls on one worker.
struct WorkerProcess {
  pid_t pid = 0;
  int gate = -1;  // write end of the gate until resumed
  int pidfd = -1; // -1 where the kernel has no pidfd: waits then poll
  bool ended = false;
  int status = 0; // wait status once ended
  uint64_t finalUserTime = 0;
  // The worker's verified operations per path, shared with it: the program
  // keeps the mapping, so they outlive the worker.
  unsigned long long *counters = nullptr;
  // Its WorkerPage, shared with it the same way.
  WorkerPage *page = nullptr;

  WorkerProcess() = default;
  WorkerProcess(const WorkerProcess &) = delete;
  WorkerProcess &operator=(const WorkerProcess &) = delete;
  // Kills a worker still running and reaps it: no process outlives its
  // handle, none is left a zombie.
  ~WorkerProcess();

  // Spawns the worker program blocked at its gate. The worker dies with the
  // calling thread (PR_SET_PDEATHSIG): call it from the thread that lives as
  // long as the program.
  // regionFd: the run's RunRegion, or -1 for none.
  bool spawn(const std::string &program, int stopFlagFd, int regionFd,
             int runTestArgument);
  // Opens the gate once; false when already open or the worker is gone.
  bool resume();
  // Reaps the worker if it has ended, waiting up to ms for that.
  bool wait(uint32_t ms);
  void kill();
  // SIGSTOP or SIGCONT; false once ended.
  bool pause(bool paused);
  // User-mode time in 100-ns units, the final one once ended.
  bool userTime(uint64_t *time100ns);
  // The counts as the worker last wrote them; zero before it ran.
  WorkerCounters verified() const;
};

// The descriptor of the shared page holding workerStopFlag(); -1 when it
// could not be made (workers then cannot start).
int workerStopFlagDescriptor();

// The worker program's side: maps the inherited stop flag (nullptr on
// failure) and blocks until the program opens the gate (false when the
// program closed it without doing so).
int *attachInheritedStopFlag();
bool awaitWorkerGate();
// The worker program's page of WORKER_COUNTER_COUNT counts; nullptr on failure.
unsigned long long *attachInheritedCounters();
// The worker program's WorkerPage; nullptr on failure.
WorkerPage *attachInheritedPage();
// The run's RunRegion; nullptr when the program handed none.
RunRegion *attachInheritedRegion();

// The program's side of a RunRegion: a memfd the workers inherit, mapped
// here too. Unmapped and closed when destroyed.
class RunRegionFile {
public:
  RunRegionFile() = default;
  RunRegionFile(const RunRegionFile &) = delete;
  RunRegionFile &operator=(const RunRegionFile &) = delete;
  ~RunRegionFile();
  // A new zeroed region for `workers`, replacing this one's; nullptr on
  // failure (then none).
  RunRegion *open(int workers);
  void close();
  int descriptor() const { return fd; }

private:
  int fd = -1;
  RunRegion *region = nullptr;
  size_t bytes = 0;
};

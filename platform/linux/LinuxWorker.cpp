#include "platform/linux/LinuxWorker.h"

#include "platform/linux/InstallPaths.h"

#include "platform/Platform.h"
#include "platform/linux/LinuxParse.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

std::mutex programMutex;
std::string programOverride;

uint64_t to100ns(const timeval &t) {
  return uint64_t(t.tv_sec) * 10'000'000 + uint64_t(t.tv_usec) * 10;
}

void sleepMs(uint32_t ms) {
  timespec request{time_t(ms / 1000), long(ms % 1000) * 1'000'000};
  while (nanosleep(&request, &request) != 0 && errno == EINTR) {
  }
}

struct StopFlagPage {
  int fd = -1;
  int *flag = nullptr;
  int fallback = 1;

  // A memfd rather than an anonymous mapping: the mapping must survive the
  // worker's exec, the descriptor does.
  StopFlagPage() {
    fd = memfd_create("vorsk-stop-flag", MFD_CLOEXEC);
    if (fd >= 0 && ftruncate(fd, sizeof(int)) == 0) {
      void *page =
          mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (page != MAP_FAILED)
        flag = static_cast<int *>(page);
    }
    if (!flag) {
      if (fd >= 0)
        close(fd);
      fd = -1;
      flag = &fallback;
    }
    *flag = 1;
  }
};

StopFlagPage &stopFlagPage() {
  static StopFlagPage page;
  return page;
}

// Between fork and exec only async-signal-safe calls: descriptors moved to
// their places, everything else closed, default signal mask.
[[noreturn]] void execWorker(const char *program, char *const argv[],
                             pid_t parent, int stopFlagFd, int gateFd,
                             int countersFd, int pageFd, int regionFd) {
  // Killed with the program, even by SIGKILL; a program already gone by
  // now would never do it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent)
    _exit(127);
  const int flagCopy = fcntl(stopFlagFd, F_DUPFD, 10);
  const int gateCopy = fcntl(gateFd, F_DUPFD, 10);
  const int countersCopy = fcntl(countersFd, F_DUPFD, 10);
  const int pageCopy = fcntl(pageFd, F_DUPFD, 10);
  const int regionCopy = regionFd < 0 ? -1 : fcntl(regionFd, F_DUPFD, 10);
  if (flagCopy < 0 || gateCopy < 0 || countersCopy < 0 || pageCopy < 0 ||
      (regionFd >= 0 && regionCopy < 0) ||
      dup2(flagCopy, WorkerStopFlagDescriptor) < 0 ||
      dup2(gateCopy, WorkerGateDescriptor) < 0 ||
      dup2(countersCopy, WorkerCountersDescriptor) < 0 ||
      dup2(pageCopy, WorkerPageDescriptor) < 0 ||
      (regionCopy >= 0 && dup2(regionCopy, WorkerRegionDescriptor) < 0))
    _exit(127);
  close_range(regionCopy >= 0 ? WorkerRegionDescriptor + 1
                              : WorkerPageDescriptor + 1,
              ~0u, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execv(program, argv);
  _exit(127);
}

constexpr size_t CountersBytes =
    sizeof(unsigned long long) * WORKER_COUNTER_COUNT;

// A zeroed shared page of `bytes` for one worker and its descriptor, or -1.
int createSharedPage(const char *name, size_t bytes, void **mapping) {
  int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0)
    return -1;
  void *page =
      ftruncate(fd, off_t(bytes)) == 0
          ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
          : MAP_FAILED;
  if (page == MAP_FAILED) {
    close(fd);
    return -1;
  }
  *mapping = page;
  return fd;
}

void *attachInherited(int fd, size_t bytes) {
  void *page = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return page == MAP_FAILED ? nullptr : page;
}

} // namespace

int &workerStopFlag() { return *stopFlagPage().flag; }

int workerStopFlagDescriptor() { return stopFlagPage().fd; }

void setWorkerProgram(const std::string &path) {
  std::lock_guard<std::mutex> lock(programMutex);
  programOverride = path;
}

std::string workerProgram() {
  std::lock_guard<std::mutex> lock(programMutex);
  return programOverride.empty()
             ? privateProgramPath(executableDir(), "vorsk-worker")
             : programOverride;
}

WorkerProcess::~WorkerProcess() {
  if (pid > 0 && !ended) {
    kill();
    while (!wait(1000)) {
    }
  }
  if (gate >= 0)
    close(gate);
  if (pidfd >= 0)
    close(pidfd);
  if (counters)
    munmap(counters, CountersBytes);
  if (page)
    munmap(page, sizeof(WorkerPage));
}

bool WorkerProcess::spawn(const std::string &program, int stopFlagFd,
                          int regionFd, int runTestArgument) {
  if (stopFlagFd < 0 || access(program.c_str(), X_OK) != 0)
    return false;
  void *countersMapping = nullptr, *pageMapping = nullptr;
  const int countersFd = createSharedPage("vorsk-worker-counters",
                                          CountersBytes, &countersMapping);
  counters = static_cast<unsigned long long *>(countersMapping);
  const int pageFd =
      createSharedPage("vorsk-worker-page", sizeof(WorkerPage), &pageMapping);
  page = static_cast<WorkerPage *>(pageMapping);
  int fds[2] = {-1, -1};
  if (countersFd < 0 || pageFd < 0 || pipe2(fds, O_CLOEXEC) != 0) {
    if (countersFd >= 0)
      close(countersFd);
    if (pageFd >= 0)
      close(pageFd);
    return false;
  }
  std::string argument = std::to_string(runTestArgument);
  char *const argv[] = {const_cast<char *>(program.c_str()),
                        const_cast<char *>(argument.c_str()), nullptr};
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0)
    execWorker(program.c_str(), argv, parent, stopFlagFd, fds[0], countersFd,
               pageFd, regionFd);
  close(fds[0]);
  close(countersFd);
  close(pageFd);
  if (child < 0) {
    close(fds[1]);
    return false;
  }
  pid = child;
  gate = fds[1];
  pidfd = int(syscall(SYS_pidfd_open, child, 0));
  return true;
}

bool WorkerProcess::resume() {
  if (gate < 0 || ended)
    return false;
  const char open = 1;
  ssize_t n;
  do
    n = write(gate, &open, 1);
  while (n < 0 && errno == EINTR);
  close(gate);
  gate = -1;
  return n == 1;
}

bool WorkerProcess::wait(uint32_t ms) {
  if (ended)
    return true;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int wstatus = 0;
    rusage usage{};
    pid_t reaped = wait4(pid, &wstatus, WNOHANG, &usage);
    if (reaped == pid) {
      ended = true;
      status = wstatus;
      finalUserTime = to100ns(usage.ru_utime);
      return true;
    }
    if (reaped < 0 && errno == ECHILD) {
      // Reaped by someone else: its end is unknown, never a clean one.
      ended = true;
      status = 255 << 8;
      return true;
    }
    if (reaped < 0 && errno != EINTR)
      return false;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t elapsed = (now.tv_sec - start.tv_sec) * 1000 +
                            (now.tv_nsec - start.tv_nsec) / 1'000'000;
    if (elapsed >= int64_t(ms))
      return false;
    const int left = int(int64_t(ms) - elapsed);
    if (pidfd >= 0) {
      pollfd ready{pidfd, POLLIN, 0};
      poll(&ready, 1, left);
    } else {
      sleepMs(uint32_t(std::min(left, 5)));
    }
  }
}

void WorkerProcess::kill() {
  if (pid > 0 && !ended)
    ::kill(pid, SIGKILL);
}

bool WorkerProcess::pause(bool paused) {
  return pid > 0 && !wait(0) && ::kill(pid, paused ? SIGSTOP : SIGCONT) == 0;
}

bool WorkerProcess::userTime(uint64_t *time100ns) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::stringstream text;
  text << in.rdbuf();
  uint64_t ticks = 0;
  const bool parsed = parseTaskStatUserTicks(text.str(), &ticks);
  // Reaped after the read: a worker not yet reaped then still held its pid,
  // so the figures were its own.
  if (wait(0) || ended) {
    *time100ns = finalUserTime;
    return true;
  }
  if (!parsed)
    return false;
  *time100ns = ticks * 10'000'000 / uint64_t(sysconf(_SC_CLK_TCK));
  return true;
}

WorkerCounters WorkerProcess::verified() const {
  WorkerCounters result;
  for (int p = 0; counters && p < WORKER_PATH_COUNT; ++p)
    result.verifiedFlops[p] = __atomic_load_n(counters + p, __ATOMIC_RELAXED);
  for (int w = 0; counters && w < WORKER_WORKLOAD_COUNT; ++w)
    result.verifiedWork[w] =
        __atomic_load_n(counters + WORKER_PATH_COUNT + w, __ATOMIC_RELAXED);
  return result;
}

int *attachInheritedStopFlag() {
  return static_cast<int *>(
      attachInherited(WorkerStopFlagDescriptor, sizeof(int)));
}

bool awaitWorkerGate() {
  char open = 0;
  ssize_t n;
  do
    n = read(WorkerGateDescriptor, &open, 1);
  while (n < 0 && errno == EINTR);
  close(WorkerGateDescriptor);
  return n == 1;
}

unsigned long long *attachInheritedCounters() {
  return static_cast<unsigned long long *>(
      attachInherited(WorkerCountersDescriptor, CountersBytes));
}

WorkerPage *attachInheritedPage() {
  return static_cast<WorkerPage *>(
      attachInherited(WorkerPageDescriptor, sizeof(WorkerPage)));
}

RunRegion *attachInheritedRegion() {
  struct stat file {};
  if (fstat(WorkerRegionDescriptor, &file) != 0)
    return nullptr;
  if (file.st_size < off_t(sizeof(RunRegion))) {
    close(WorkerRegionDescriptor);
    return nullptr;
  }
  auto *region = static_cast<RunRegion *>(
      attachInherited(WorkerRegionDescriptor, size_t(file.st_size)));
  // A count the region cannot hold would send the engine past its end.
  if (region && runRegionBytes(int(region->workers)) > size_t(file.st_size)) {
    munmap(region, size_t(file.st_size));
    return nullptr;
  }
  return region;
}

RunRegionFile::~RunRegionFile() { close(); }

RunRegion *RunRegionFile::open(int workers) {
  close();
  if (workers < 2)
    return nullptr;
  const size_t size = runRegionBytes(workers);
  void *mapping = nullptr;
  fd = createSharedPage("vorsk-run-region", size, &mapping);
  if (fd < 0)
    return nullptr;
  region = static_cast<RunRegion *>(mapping);
  bytes = size;
  region->workers = uint32_t(workers);
  return region;
}

void RunRegionFile::close() {
  if (region)
    munmap(region, bytes);
  if (fd >= 0)
    ::close(fd);
  region = nullptr;
  fd = -1;
  bytes = 0;
}

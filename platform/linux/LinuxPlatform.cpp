#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/HardwareErrors.h"
#include "platform/linux/InstallPaths.h"
#include "platform/linux/LibSensors.h"
#include "platform/linux/LinuxParse.h"
#include "platform/linux/LinuxTermination.h"
#include "platform/linux/LinuxWorker.h"
#include "platform/linux/OwnFiles.h"
#include "platform/linux/PciConfig.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h> // shm_open
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

pid_t currentTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

std::string readFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

uint64_t userTimeOfCallingThread() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return uint64_t(usage.ru_utime.tv_sec) * 10'000'000 +
         uint64_t(usage.ru_utime.tv_usec) * 10;
}

// The kernel's masks are as wide as its NR_CPUS, which may exceed glibc's
// fixed cpu_set_t: the buffer grows until the kernel accepts it.
bool readAffinity(pid_t tid, CpuSet *set) {
  for (int width = 1024; width <= 1 << 16; width *= 2) {
    cpu_set_t *mask = CPU_ALLOC(width);
    size_t size = CPU_ALLOC_SIZE(width);
    CPU_ZERO_S(size, mask);
    bool read = sched_getaffinity(tid, size, mask) == 0;
    int error = errno;
    if (read) {
      CpuSet result;
      for (int cpu = 0; cpu < width; ++cpu)
        if (CPU_ISSET_S(cpu, size, mask))
          result.add(cpu);
      *set = result;
    }
    CPU_FREE(mask);
    if (read || error != EINVAL)
      return read;
  }
  return false;
}

bool writeAffinity(pid_t tid, const CpuSet &set) {
  std::vector<int> cpus = set.members();
  if (cpus.empty())
    return false;
  cpu_set_t *mask = CPU_ALLOC(cpus.back() + 1);
  size_t size = CPU_ALLOC_SIZE(cpus.back() + 1);
  CPU_ZERO_S(size, mask);
  for (int cpu : cpus)
    CPU_SET_S(cpu, size, mask);
  bool written = sched_setaffinity(tid, size, mask) == 0;
  CPU_FREE(mask);
  return written;
}

// A thread waits at its gate until resumed; its record outlives the handle
// when the handle is closed while the thread still runs.
struct LinuxThread {
  ThreadProc proc = nullptr;
  void *param = nullptr;
  pthread_t native{};
  pid_t tid = 0;
  std::mutex mutex;
  std::condition_variable changed;
  bool gateOpen = false;
  bool cancelled = false; // closed or terminated before it was ever resumed
  bool ended = false;
  ThreadPriority priority = ThreadPriority::Normal;
  uint32_t exitCode = STILL_ACTIVE;
  uint64_t finalUserTime = 0;
};

void *threadEntry(void *arg) {
  auto *self = static_cast<std::shared_ptr<LinuxThread> *>(arg);
  std::shared_ptr<LinuxThread> t = *self;
  delete self;
  // Named so that our threads stand out in top, gdb and /proc.
  pthread_setname_np(pthread_self(), LinuxThreadName);
  {
    std::unique_lock<std::mutex> lock(t->mutex);
    t->tid = currentTid();
    t->changed.notify_all();
    t->changed.wait(lock, [&] { return t->gateOpen; });
    if (t->cancelled)
      return nullptr;
  }
  uint32_t code = t->proc(t->param);
  uint64_t user = userTimeOfCallingThread();
  std::lock_guard<std::mutex> lock(t->mutex);
  t->finalUserTime = user;
  t->exitCode = code;
  t->ended = true;
  t->changed.notify_all();
  return nullptr;
}

// A worker process and what the platform keeps about it.
struct LinuxWorker {
  std::mutex mutex;
  WorkerProcess process;
  ThreadPriority priority = ThreadPriority::Normal;
};

// No publisher needs more; a larger object is read up to this size, so one
// reading copies at most this much whatever is published.
constexpr size_t MaxSharedMemorySize = 1 << 20;

SharedMemoryRefusal refusalOf(const struct stat &info) {
  if (!S_ISREG(info.st_mode))
    return SharedMemoryRefusal::NotRegularFile;
  if (info.st_uid != geteuid() && info.st_uid != 0)
    return SharedMemoryRefusal::ForeignOwner;
  return SharedMemoryRefusal::None;
}

// Up to size bytes from the start of the file; fewer if it shrinks meanwhile.
std::vector<unsigned char> readAll(int fd, size_t size) {
  std::vector<unsigned char> bytes(size);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    done += size_t(n);
  }
  bytes.resize(done);
  return bytes;
}

class LinuxPlatform : public Platform {
public:
  LinuxPlatform() {
    readAffinity(0, &processMask_);
    if (!parseCpuList(readFile("/sys/devices/system/cpu/online"), &systemMask_))
      systemMask_ = processMask_;
    errno = 0;
    baseNice_ = getpriority(PRIO_PROCESS, 0);
  }

  ThreadHandle createThreadSuspended(ThreadProc proc, void *param) override {
    auto t = std::make_shared<LinuxThread>();
    t->proc = proc;
    t->param = param;
    auto *arg = new std::shared_ptr<LinuxThread>(t);
    if (pthread_create(&t->native, nullptr, threadEntry, arg) != 0) {
      delete arg;
      return 0;
    }
    {
      // The tid is needed for priorities and thread times.
      std::unique_lock<std::mutex> lock(t->mutex);
      t->changed.wait(lock, [&] { return t->tid != 0; });
    }
    std::lock_guard<std::mutex> lock(handlesMutex_);
    ThreadHandle h = nextHandle_++;
    threads_[h] = t;
    return h;
  }

  // An ended thread has nothing left to pin or renice, and its pthread_t no
  // longer names a task: glibc would apply the call to the calling thread.
  // The thread cannot end while its mutex is held.
  bool setThreadAffinityMask(ThreadHandle h, const CpuSet &mask) override {
    if (mask.empty() || !mask.isSubsetOf(processMask_))
      return false;
    if (auto w = findWorker(h)) {
      std::lock_guard<std::mutex> lock(w->mutex);
      if (w->process.wait(0))
        return true;
      return writeAffinity(w->process.pid, mask);
    }
    auto t = find(h);
    if (!t)
      return false;
    std::lock_guard<std::mutex> lock(t->mutex);
    if (t->ended)
      return true;
    return writeAffinity(t->tid, mask);
  }

  bool setThreadPriority(ThreadHandle h, ThreadPriority priority) override {
    if (auto w = findWorker(h)) {
      std::lock_guard<std::mutex> lock(w->mutex);
      w->priority = priority;
      if (!w->process.wait(0))
        applyPriority(w->process.pid, priority, baseNice_ + classOffset_);
      return true;
    }
    auto t = find(h);
    if (!t)
      return false;
    std::lock_guard<std::mutex> lock(t->mutex);
    t->priority = priority;
    if (!t->ended)
      applyPriority(t->tid, priority, baseNice_ + classOffset_);
    return true;
  }

  bool setThreadPriorityBoost(ThreadHandle h, bool) override {
    return find(h) || findWorker(h);
  }

  uint32_t resumeThread(ThreadHandle h) override {
    if (auto w = findWorker(h)) {
      std::lock_guard<std::mutex> lock(w->mutex);
      return w->process.resume() ? 1 : RESUME_FAILED;
    }
    auto t = find(h);
    if (!t)
      return RESUME_FAILED;
    std::lock_guard<std::mutex> lock(t->mutex);
    if (t->gateOpen)
      return RESUME_FAILED;
    t->gateOpen = true;
    t->changed.notify_all();
    return 1;
  }

  WaitResult waitForThread(ThreadHandle h, uint32_t ms) override {
    if (auto w = findWorker(h)) {
      std::lock_guard<std::mutex> lock(w->mutex);
      return w->process.wait(ms) ? WaitResult::Ended : WaitResult::TimedOut;
    }
    auto t = find(h);
    if (!t)
      return WaitResult::Failed;
    std::unique_lock<std::mutex> lock(t->mutex);
    bool ended = t->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                     [&] { return t->ended; });
    return ended ? WaitResult::Ended : WaitResult::TimedOut;
  }

  bool getExitCodeThread(ThreadHandle h, uint32_t *code) override {
    if (auto w = findWorker(h)) {
      std::lock_guard<std::mutex> lock(w->mutex);
      if (!w->process.wait(0))
        *code = STILL_ACTIVE;
      else if (WIFSIGNALED(w->process.status))
        *code = 128 + uint32_t(WTERMSIG(w->process.status));
      else
        *code = uint32_t(WEXITSTATUS(w->process.status));
      return true;
    }
    auto t = find(h);
    if (!t)
      return false;
    std::lock_guard<std::mutex> lock(t->mutex);
    *code = t->exitCode;
    return true;
  }

  bool getThreadUserTime(ThreadHandle h, uint64_t *time100ns) override {
    if (auto w = findWorker(h)) {
      std::lock_guard<std::mutex> lock(w->mutex);
      return w->process.userTime(time100ns);
    }
    auto t = find(h);
    if (!t)
      return false;
    uint64_t ticks = 0;
    bool parsed = parseTaskStatUserTicks(
        readFile("/proc/self/task/" + std::to_string(t->tid) + "/stat"),
        &ticks);
    // Checked after the read: a thread not yet ended then was alive during
    // it, so its tid was not some later thread's.
    std::lock_guard<std::mutex> lock(t->mutex);
    if (t->ended) {
      *time100ns = t->finalUserTime;
      return true;
    }
    if (!parsed)
      return false;
    *time100ns = ticks * 10'000'000 / uint64_t(sysconf(_SC_CLK_TCK));
    return true;
  }

  // A thread never resumed can be ended safely: it never runs, and reads
  // exit code 0 as a terminated thread does.
  bool terminateThread(ThreadHandle h, uint32_t waitMs) override {
    if (auto w = findWorker(h)) {
      std::lock_guard<std::mutex> lock(w->mutex);
      w->process.kill();
      return w->process.wait(waitMs);
    }
    auto t = find(h);
    if (!t)
      return false;
    {
      std::lock_guard<std::mutex> lock(t->mutex);
      if (!t->gateOpen) {
        t->cancelled = true;
        t->gateOpen = true;
        t->ended = true;
        t->exitCode = 0;
        t->changed.notify_all();
        return true;
      }
    }
    return waitForThread(h, waitMs) == WaitResult::Ended;
  }

  bool closeHandle(ThreadHandle h) override {
    if (auto w = findWorker(h)) {
      {
        std::lock_guard<std::mutex> lock(handlesMutex_);
        workers_.erase(h);
      }
      // Its record kills and reaps the worker when the last user lets go.
      return true;
    }
    std::shared_ptr<LinuxThread> t;
    {
      std::lock_guard<std::mutex> lock(handlesMutex_);
      auto it = threads_.find(h);
      if (it == threads_.end())
        return false;
      t = it->second;
      threads_.erase(it);
    }
    bool ended;
    {
      std::lock_guard<std::mutex> lock(t->mutex);
      if (!t->gateOpen) {
        t->cancelled = true;
        t->gateOpen = true;
        t->changed.notify_all();
      }
      ended = t->ended;
    }
    if (ended || t->cancelled)
      pthread_join(t->native, nullptr);
    else
      pthread_detach(t->native);
    return true;
  }

  ThreadHandle createWorkerSuspended(int runTestArgument) override {
    auto w = std::make_shared<LinuxWorker>();
    int region;
    {
      std::lock_guard<std::mutex> lock(regionMutex_);
      region = region_.descriptor();
    }
    if (!w->process.spawn(workerProgram(), workerStopFlagDescriptor(), region,
                          runTestArgument))
      return 0;
    std::lock_guard<std::mutex> lock(handlesMutex_);
    ThreadHandle h = nextHandle_++;
    workers_[h] = w;
    return h;
  }

  bool getWorkerSignal(ThreadHandle h, int *signal) override {
    auto w = findWorker(h);
    if (!w)
      return false;
    std::lock_guard<std::mutex> lock(w->mutex);
    const bool ended = w->process.wait(0);
    *signal = ended && WIFSIGNALED(w->process.status)
                  ? WTERMSIG(w->process.status)
                  : 0;
    return true;
  }

  bool getWorkerCounters(ThreadHandle h, WorkerCounters *counters) override {
    auto w = findWorker(h);
    if (!w)
      return false;
    *counters = w->process.verified();
    return true;
  }

  WorkerPage *workerPage(ThreadHandle h) override {
    auto w = findWorker(h);
    return w ? w->process.page : nullptr;
  }

  RunRegion *openRunRegion(int workers) override {
    std::lock_guard<std::mutex> lock(regionMutex_);
    return region_.open(workers);
  }

  bool pauseWorker(ThreadHandle h, bool paused) override {
    auto w = findWorker(h);
    if (!w)
      return false;
    std::lock_guard<std::mutex> lock(w->mutex);
    return w->process.pause(paused);
  }

  bool getProcessAffinityMask(CpuSet *processMask,
                              CpuSet *systemMask) override {
    *processMask = processMask_;
    *systemMask = systemMask_;
    return true;
  }

  bool setProcessAffinityMask(const CpuSet &mask) override {
    if (mask.empty() || !mask.isSubsetOf(processMask_))
      return false;
    return writeAffinity(0, mask);
  }

  bool setPriorityClass(uint32_t priorityClass) override {
    int offset;
    switch (priorityClass) {
    case ABOVE_NORMAL_PRIORITY_CLASS:
      offset = -5;
      break;
    case NORMAL_PRIORITY_CLASS:
      offset = 0;
      break;
    case BELOW_NORMAL_PRIORITY_CLASS:
      offset = 5;
      break;
    default:
      return false;
    }
    // Threads of this layer keep their priority relative to the class.
    std::map<pid_t, std::shared_ptr<LinuxThread>> known;
    {
      std::lock_guard<std::mutex> lock(handlesMutex_);
      for (const auto &entry : threads_)
        known[entry.second->tid] = entry.second;
    }
    bool ok = true;
    DIR *tasks = opendir("/proc/self/task");
    if (!tasks)
      return false;
    while (dirent *entry = readdir(tasks)) {
      if (entry->d_name[0] == '.')
        continue;
      pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
      auto thread = known.find(tid);
      if (thread != known.end()) {
        std::lock_guard<std::mutex> lock(thread->second->mutex);
        if (!thread->second->ended &&
            !applyPriority(tid, thread->second->priority, baseNice_ + offset))
          ok = false;
      } else if (setpriority(PRIO_PROCESS, tid, baseNice_ + offset) != 0 &&
                 errno != ESRCH) {
        // ESRCH: the thread ended since the listing.
        ok = false;
      }
    }
    closedir(tasks);
    for (const auto &w : liveWorkers()) {
      std::lock_guard<std::mutex> lock(w->mutex);
      if (!w->process.wait(0) &&
          !applyPriority(w->process.pid, w->priority, baseNice_ + offset))
        ok = false;
    }
    if (ok)
      classOffset_ = offset;
    return ok;
  }

  uint32_t currentPriorityClass() override {
    if (classOffset_ < 0)
      return ABOVE_NORMAL_PRIORITY_CLASS;
    return classOffset_ > 0 ? BELOW_NORMAL_PRIORITY_CLASS
                            : NORMAL_PRIORITY_CLASS;
  }

  void sleep(uint32_t ms) override {
    timespec request{time_t(ms / 1000), long(ms % 1000) * 1'000'000};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
  }

  int64_t performanceFrequency() override { return 1'000'000'000; }

  int64_t performanceCounter() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
  }

  uint32_t timeGetTime() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(uint64_t(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000);
  }

  std::unique_ptr<SharedMemoryView>
  openSharedMemory(const std::string &name,
                   SharedMemoryRefusal *refusal = nullptr) override {
    SharedMemoryRefusal why = SharedMemoryRefusal::Missing;
    std::unique_ptr<SharedMemoryView> view;
    // Non-blocking: a FIFO under the name would otherwise block until a
    // writer comes, and no terminal may become ours.
    int fd =
        shm_open(("/" + name).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
    if (fd >= 0) {
      struct stat info {};
      if (fstat(fd, &info) == 0)
        why = refusalOf(info);
      if (why == SharedMemoryRefusal::None)
        view = std::make_unique<SharedMemoryView>(
            readAll(fd, std::min(size_t(info.st_size), MaxSharedMemorySize)));
      close(fd);
    }
    if (refusal)
      *refusal = why;
    return view;
  }

  bool appendToDisk(const std::string &path,
                    const std::string &bytes) override {
    bool created = false;
    const int fd = openOwnFile(path, OwnFileAccess::Append, &created);
    if (fd < 0)
      return false;
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      done += size_t(n);
    }
    bool ok = done == bytes.size() && fdatasync(fd) == 0;
    close(fd);
    // A new file also needs its name on the disk.
    if (ok && created) {
      const size_t slash = path.rfind('/');
      const std::string dir =
          slash == std::string::npos ? "." : path.substr(0, slash + 1);
      int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ok = dirFd >= 0 && fsync(dirFd) == 0;
      if (dirFd >= 0)
        close(dirFd);
    }
    return ok;
  }

  void rescanSensors() override { libSensors().rescan(); }

  std::vector<SensorInput> sensorInputs() override {
    return libSensors().inputs();
  }

  bool readSensorInput(const std::string &chip, const std::string &label,
                       SensorKind kind, double *value) override {
    return libSensors().read(chip, label, kind, value);
  }

  std::vector<ErrorCounter> hardwareErrorCounters() override {
    return readHardwareErrorCounters();
  }

  PciConfigRead readPciConfig(const std::string &device, uint32_t offset,
                              uint32_t *value) override {
    return readPciConfigRegister(device, offset, value);
  }

  bool writePciConfigByte(const std::string &device, uint32_t offset,
                          uint8_t value) override {
    return writePciConfigRegisterByte(device, offset, value);
  }

  std::string pciDriver(const std::string &device) override {
    return pciDeviceDriver(device);
  }

  // The working folder's copy is loaded only when no other user could have
  // put it there or changed it; through its descriptor, so that the file
  // checked is the file loaded.
  static LibraryHandle loadTrusted(const std::string &path) {
    const int fd = openTrustedLibrary(path);
    if (fd < 0)
      return nullptr;
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    LibraryHandle library = dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL);
    close(fd);
    return library;
  }

  LibraryHandle loadLibrary(const std::string &fileName) override {
    if (fileName.find('/') != std::string::npos)
      return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    for (const std::string &dir : libraryFolders(executableDir())) {
      std::string path = dir + "/" + fileName;
      if (dir == ".") {
        if (LibraryHandle library = loadTrusted(path))
          return library;
        continue;
      }
      if (access(path.c_str(), R_OK) != 0)
        continue;
      if (LibraryHandle library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
        return library;
    }
    return nullptr;
  }

  void *getProcAddress(LibraryHandle library, const char *name) override {
    return library ? dlsym(library, name) : nullptr;
  }

  void freeLibrary(LibraryHandle library) override {
    if (library)
      dlclose(library);
  }

  void runShutdownCommand() override {
    if (std::system("systemctl poweroff") != 0) {
      // Nothing to do: the result is not examined.
    }
  }

  bool processorClockKHz(int cpu, uint64_t *kHz) override {
    if (cpu < 0)
      return false;
    return parseKiloHertz(readFile("/sys/devices/system/cpu/cpu" +
                                   std::to_string(cpu) +
                                   "/cpufreq/scaling_cur_freq"),
                          kHz);
  }

  bool readKernelText(const std::string &path, std::string *text) override {
    std::ifstream in(path);
    if (!in)
      return false;
    std::stringstream whole;
    whole << in.rdbuf();
    *text = whole.str();
    return !in.bad();
  }

  std::string kernelRelease() override {
    utsname names{};
    return uname(&names) == 0 ? names.release : "";
  }

  int terminationRequests() override { return ::terminationRequests(); }

private:
  // Above normal is one step above the base where the OS allows it; a
  // refused step is no failure, the thread keeps the base. False when even
  // the base was refused.
  static bool applyPriority(pid_t tid, ThreadPriority priority, int base) {
    if (priority == ThreadPriority::AboveNormal &&
        setpriority(PRIO_PROCESS, tid, base - 1) == 0)
      return true;
    return setpriority(PRIO_PROCESS, tid, base) == 0;
  }

  std::shared_ptr<LinuxThread> find(ThreadHandle h) {
    std::lock_guard<std::mutex> lock(handlesMutex_);
    auto it = threads_.find(h);
    return it == threads_.end() ? nullptr : it->second;
  }

  std::shared_ptr<LinuxWorker> findWorker(ThreadHandle h) {
    std::lock_guard<std::mutex> lock(handlesMutex_);
    auto it = workers_.find(h);
    return it == workers_.end() ? nullptr : it->second;
  }

  std::vector<std::shared_ptr<LinuxWorker>> liveWorkers() {
    std::lock_guard<std::mutex> lock(handlesMutex_);
    std::vector<std::shared_ptr<LinuxWorker>> all;
    for (const auto &entry : workers_)
      all.push_back(entry.second);
    return all;
  }

  CpuSet processMask_;
  CpuSet systemMask_;
  int baseNice_ = 0;
  int classOffset_ = 0;
  std::mutex handlesMutex_;
  std::map<ThreadHandle, std::shared_ptr<LinuxThread>> threads_;
  std::map<ThreadHandle, std::shared_ptr<LinuxWorker>> workers_;
  ThreadHandle nextHandle_ = 1;
  std::mutex regionMutex_;
  RunRegionFile region_;
};

} // namespace

Platform &linuxPlatform() {
  static LinuxPlatform instance;
  return instance;
}

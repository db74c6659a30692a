#pragma once

#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>

#include <dirent.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

// What a test procedure reports back to the test. The procedure runs until
// the test sets `release`, so the test decides when it ends.
struct ThreadProbe {
  std::atomic<bool> ran{false};
  std::atomic<bool> release{false};
  std::atomic<int> cpu{-1};
  std::atomic<int> tid{0};
  uint32_t result = 0;
};

inline void reportStart(ThreadProbe *probe) {
  probe->cpu = sched_getcpu();
  probe->tid = int(syscall(SYS_gettid));
  probe->ran = true;
}

// Waits for release without using the processor.
inline uint32_t idleUntilReleased(void *param) {
  auto *probe = static_cast<ThreadProbe *>(param);
  reportStart(probe);
  while (!probe->release)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return probe->result;
}

// Burns user-mode time until release.
inline uint32_t spinUntilReleased(void *param) {
  auto *probe = static_cast<ThreadProbe *>(param);
  reportStart(probe);
  volatile uint64_t x = 1;
  while (!probe->release.load(std::memory_order_relaxed))
    x = x * 6364136223846793005u + 1442695040888963407u;
  return probe->result;
}

// The processors the calling thread may run on.
inline CpuSet callingThreadAffinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof set, &set);
  CpuSet cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &set))
      cpus.add(cpu);
  return cpus;
}

// Threads of the platform layer alive right now; threads that Qt or the C
// library start on their own are not counted.
inline int taskCount() {
  int count = 0;
  if (DIR *tasks = opendir("/proc/self/task")) {
    while (dirent *entry = readdir(tasks)) {
      if (entry->d_name[0] == '.')
        continue;
      std::ifstream comm(std::string("/proc/self/task/") + entry->d_name +
                         "/comm");
      std::string name;
      if (std::getline(comm, name) && name == LinuxThreadName)
        ++count;
    }
    closedir(tasks);
  }
  return count;
}

// A platform thread for one test: on leaving the test, passing or failing,
// its procedure is released and its handle closed, so no thread outlives
// its probe.
class TestThread {
public:
  TestThread(Platform &platform, ThreadProc proc, uint32_t result = 0)
      : p_(platform) {
    probe.result = result;
    handle = p_.createThreadSuspended(proc, &probe);
  }
  ~TestThread() {
    probe.release = true;
    p_.resumeThread(handle); // a never-resumed thread returns at once
    p_.waitForThread(handle, 5000);
    p_.closeHandle(handle);
  }
  TestThread(const TestThread &) = delete;
  TestThread &operator=(const TestThread &) = delete;

  // Resumes the thread (first resume) and waits up to 5 s for its procedure.
  bool start() {
    if (p_.resumeThread(handle) != 1)
      return false;
    for (int ms = 0; ms < 5000 && !probe.ran; ++ms)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return probe.ran;
  }

  ThreadProbe probe;
  ThreadHandle handle = 0;

private:
  Platform &p_;
};

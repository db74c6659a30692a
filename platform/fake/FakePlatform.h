#pragma once

#include "platform/Platform.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

// A scriptable platform for tests. Threads do not run unless runOnResume is
// set (then resumeThread runs the procedure to its end on the caller's
// thread); tests set their exit codes, signals and user times by hand. Time
// only moves through sleep(), waits that time out, or advance().
class FakePlatform : public Platform {
public:
  enum class Op {
    CreateThread,
    SetThreadAffinityMask,
    SetThreadPriority,
    SetThreadPriorityBoost,
    ResumeThread,
    WaitForThread,
    GetExitCodeThread,
    GetThreadUserTime,
    GetProcessAffinityMask,
    SetProcessAffinityMask,
    SetPriorityClass,
  };

  struct Thread {
    ThreadProc proc = nullptr;
    void *param = nullptr;
    bool suspended = true;
    bool closed = false;
    bool terminated = false;
    CpuSet affinity;
    ThreadPriority priority = ThreadPriority::Normal;
    bool boostDisabled = false;
    uint32_t exitCode = STILL_ACTIVE;
    uint64_t userTime = 0; // 100-ns units
    bool worker = false;
    int runTestArgument = 0;
    int signal = 0;          // the signal that killed a worker, set by the test
    WorkerCounters counters; // a worker's verified work, set by the test
    WorkerPage page;         // the program's seed in, the test's digests out
    bool paused = false;
  };

  // Makes the nth call of op (0-based, counted from construction) fail.
  void failCall(Op op, int nth);
  // Makes every call of op fail (or succeed again).
  void failAlways(Op op, bool fail = true);
  int callCount(Op op) const;

  bool runOnResume = false;
  // Called after every sleep() with its duration, once the clock moved.
  std::function<void(uint32_t ms)> onSleep;

  Thread *thread(ThreadHandle h); // nullptr for 0 or unknown
  std::vector<ThreadHandle> handles() const;
  void advance(uint64_t ms);

  CpuSet processMask = 0x3;
  CpuSet systemMask = 0x3;
  CpuSet currentAffinity = 0x3; // of the calling thread
  std::vector<CpuSet> affinityHistory;
  uint32_t priorityClass = NORMAL_PRIORITY_CLASS;
  int shutdownRequests = 0;
  std::map<int, uint64_t> processorClocksKHz; // cpufreq, by processor
  // The /proc and /sys files the fake plays, by path; others are absent.
  std::map<std::string, std::string> kernelTexts;
  std::string release = "6.1.0-28-amd64"; // uname's
  // The last openRunRegion's count (-1: none yet) and its region's memory.
  int runRegionWorkers = -1;
  std::vector<CoherenceLine> runRegion;

  // What appendToDisk wrote, by path; nothing reaches the real disk.
  std::map<std::string, std::string> diskFiles;

  void publish(const std::string &name, std::vector<unsigned char> bytes);
  void unpublish(const std::string &name);
  // An object under the name that the real layer would refuse to read.
  void publishRefused(const std::string &name, SharedMemoryRefusal why);

  // The hardware-monitoring inputs the fake plays; a value of NaN fails
  // the reading of that input.
  std::vector<SensorInput> sensors;
  int sensorRescans = 0;
  // The hardware error counters the fake plays.
  std::vector<ErrorCounter> errorCounters;

  // PCI configuration registers by device, offset and the byte last
  // written at that offset (a register may select what it reads back, as
  // the K8 thermal register selects its core). Unrecorded registers of a
  // recorded device read all ones; an unrecorded device is missing.
  std::map<std::tuple<std::string, uint32_t, uint8_t>, uint32_t> pciRegisters;
  // Devices whose registers past the first 64 bytes are refused, as the
  // kernel refuses them to an ordinary user.
  std::set<std::string> pciRefused;
  // Every configuration byte written, whether the device took it or not.
  int pciWrites = 0;
  // The kernel driver bound to a device, by device.
  std::map<std::string, std::string> pciDrivers;

  // A library the fake "loads": exported symbol name -> address.
  void addLibrary(const std::string &fileName,
                  std::map<std::string, void *> symbols);
  std::vector<std::string> loadedLibraries; // every successful load, in order
  int openLibraries = 0;

  ThreadHandle createThreadSuspended(ThreadProc proc, void *param) override;
  bool setThreadAffinityMask(ThreadHandle thread, const CpuSet &mask) override;
  bool setThreadPriority(ThreadHandle thread, ThreadPriority p) override;
  bool setThreadPriorityBoost(ThreadHandle thread, bool disable) override;
  uint32_t resumeThread(ThreadHandle thread) override;
  WaitResult waitForThread(ThreadHandle thread, uint32_t ms) override;
  bool getExitCodeThread(ThreadHandle thread, uint32_t *code) override;
  bool getThreadUserTime(ThreadHandle thread, uint64_t *time100ns) override;
  bool terminateThread(ThreadHandle thread, uint32_t waitMs) override;
  bool closeHandle(ThreadHandle thread) override;
  // A worker is a thread that never runs (its exit code, times and counters
  // are the test's to set), counted as a CreateThread.
  ThreadHandle createWorkerSuspended(int runTestArgument) override;
  bool getWorkerSignal(ThreadHandle worker, int *signal) override;
  bool getWorkerCounters(ThreadHandle worker,
                         WorkerCounters *counters) override;
  WorkerPage *workerPage(ThreadHandle worker) override;
  RunRegion *openRunRegion(int workers) override;
  bool pauseWorker(ThreadHandle worker, bool paused) override;
  bool getProcessAffinityMask(CpuSet *processMask, CpuSet *systemMask) override;
  bool setProcessAffinityMask(const CpuSet &mask) override;
  bool setPriorityClass(uint32_t priorityClass) override;
  uint32_t currentPriorityClass() override;
  void sleep(uint32_t ms) override;
  int64_t performanceFrequency() override;
  int64_t performanceCounter() override;
  uint32_t timeGetTime() override;
  std::unique_ptr<SharedMemoryView>
  openSharedMemory(const std::string &name,
                   SharedMemoryRefusal *refusal = nullptr) override;
  bool appendToDisk(const std::string &path, const std::string &bytes) override;
  void rescanSensors() override;
  std::vector<SensorInput> sensorInputs() override;
  bool readSensorInput(const std::string &chip, const std::string &label,
                       SensorKind kind, double *value) override;
  std::vector<ErrorCounter> hardwareErrorCounters() override;
  PciConfigRead readPciConfig(const std::string &device, uint32_t offset,
                              uint32_t *value) override;
  std::string pciDriver(const std::string &device) override;
  bool writePciConfigByte(const std::string &device, uint32_t offset,
                          uint8_t value) override;
  LibraryHandle loadLibrary(const std::string &fileName) override;
  void *getProcAddress(LibraryHandle library, const char *name) override;
  void freeLibrary(LibraryHandle library) override;
  void runShutdownCommand() override;
  bool processorClockKHz(int cpu, uint64_t *kHz) override;
  bool readKernelText(const std::string &path, std::string *text) override;
  std::string kernelRelease() override;
  // A pipe of the fake's own; requestTermination() makes it readable as the
  // signals make the real one.
  int terminationRequests() override;
  void requestTermination();
  ~FakePlatform() override;

private:
  bool failing(Op op);
  Thread *open(ThreadHandle h);

  mutable std::recursive_mutex mutex_;
  std::map<Op, int> calls_;
  std::map<Op, std::set<int>> failNth_;
  std::set<Op> failAlways_;
  std::vector<std::unique_ptr<Thread>> threads_;
  uint64_t nowNs_ = 1'000'000'000;
  std::map<std::string, std::vector<unsigned char>> shared_;
  std::map<std::string, SharedMemoryRefusal> refused_;
  std::map<std::string, std::map<std::string, void *>> libraries_;
  std::map<std::pair<std::string, uint32_t>, uint8_t> pciWritten_;
  int terminationPipe_[2] = {-1, -1};
};

// Installs a fake for the lifetime of a test scope.
class FakePlatformScope {
public:
  FakePlatformScope() : previous_(setPlatform(&fake)) {}
  ~FakePlatformScope() { setPlatform(previous_); }
  FakePlatform fake;

private:
  Platform *previous_;
};

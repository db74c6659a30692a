#pragma once

#include "platform/CpuSet.h"
#include "platform/RunRegion.h"
#include "platform/WorkerCounters.h"
#include "platform/WorkerPage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The operating-system services Vorsk uses, with the contract its callers
// were written against: Windows-style results, thread exit code 259 while a
// thread runs, times in 100-ns units, affinity masks as sets of logical
// processors by number. Code above this layer never calls the OS itself, so the
// same logic runs on FakePlatform in tests.

using ThreadProc = uint32_t (*)(void *param);
using ThreadHandle = uintptr_t; // 0 = no thread
using LibraryHandle = void *;   // nullptr = not loaded

constexpr uint32_t STILL_ACTIVE = 259;
constexpr uint32_t RESUME_FAILED = 0xFFFFFFFFu;

enum class WaitResult { Ended, TimedOut, Failed };
enum class ThreadPriority { Normal, AboveNormal };

// Windows priority class values; they are also the item data of the
// priority choice, so they keep their numeric values.
enum PriorityClass : uint32_t {
  ABOVE_NORMAL_PRIORITY_CLASS = 0x8000,
  NORMAL_PRIORITY_CLASS = 0x20,
  BELOW_NORMAL_PRIORITY_CLASS = 0x4000,
};

// A copy of a named shared-memory object, taken when it was opened (open it
// again for fresh values). A copy rather than a mapping: a mapping faults if
// the publisher shrinks its object while it is read. Every read is bounded by
// the copy's size: a read that does not fit entirely fails and copies
// nothing.
class SharedMemoryView {
public:
  explicit SharedMemoryView(std::vector<unsigned char> bytes)
      : bytes_(std::move(bytes)) {}
  size_t size() const { return bytes_.size(); }
  const unsigned char *data() const { return bytes_.data(); }
  bool read(size_t offset, void *out, size_t length) const;

private:
  std::vector<unsigned char> bytes_;
};

enum class SensorKind { Temperature, Voltage };

// One temperature or voltage input of a hardware-monitoring chip.
struct SensorInput {
  // The chip's driver name ("k10temp"), or its full lm-sensors name
  // ("nvme-pci-0100") when several chips share a driver name.
  std::string chip;
  // The input's label once the user's sensors configuration is applied.
  std::string label;
  SensorKind kind = SensorKind::Temperature;
  // Degrees Celsius or volts; NaN when the input could not be read.
  double value = 0;
};

// One of the kernel's hardware error counters.
struct ErrorCounter {
  std::string source; // "EDAC mc0", "EDAC mc0 csrow1", "MCE"
  uint64_t corrected = 0;
  uint64_t uncorrected = 0;
};

// How a PCI configuration register read through the kernel went.
enum class PciConfigRead {
  Read,
  Missing, // no such device, or its configuration cannot be opened
  Refused, // past the first 64 bytes, which only root may read
};

enum class SharedMemoryRefusal {
  None,
  Missing,        // no such object, or it cannot be opened
  NotRegularFile, // a directory, FIFO, socket or device under the name
  ForeignOwner,   // owned by a user other than this one and root
};

class Platform {
public:
  virtual ~Platform() = default;

  // Threads. A thread is created suspended and runs its procedure only
  // after resumeThread. Calls on a null or closed handle fail.
  virtual ThreadHandle createThreadSuspended(ThreadProc proc, void *param) = 0;
  // Fails for an empty set or one outside the process's set.
  virtual bool setThreadAffinityMask(ThreadHandle thread,
                                     const CpuSet &mask) = 0;
  virtual bool setThreadPriority(ThreadHandle thread,
                                 ThreadPriority priority) = 0;
  // disable = true switches the dynamic priority boost off.
  virtual bool setThreadPriorityBoost(ThreadHandle thread, bool disable) = 0;
  // Previous suspend count (1 for a suspended thread), RESUME_FAILED on
  // failure, including a thread that is not suspended.
  virtual uint32_t resumeThread(ThreadHandle thread) = 0;
  virtual WaitResult waitForThread(ThreadHandle thread, uint32_t ms) = 0;
  // STILL_ACTIVE until the procedure returns, then its result.
  virtual bool getExitCodeThread(ThreadHandle thread, uint32_t *code) = 0;
  // User-mode time consumed so far, in 100-ns units; it stays readable
  // after the thread ended, until the handle is closed.
  virtual bool getThreadUserTime(ThreadHandle thread, uint64_t *time100ns) = 0;
  // No thread can be killed safely on Linux: the caller raises its stop
  // flag first; this waits up to waitMs for the procedure to return and
  // leaves a thread still running to the process exit. True when ended.
  // A thread never resumed ends at once, without running, with exit code 0.
  virtual bool terminateThread(ThreadHandle thread, uint32_t waitMs) = 0;
  virtual bool closeHandle(ThreadHandle thread) = 0;

  // Workers. A worker runs the test engine in a process of its own (the
  // program vorsk-worker, beside the executable), so that its death cannot
  // take the window with it and a worker deaf to the stop flag can be ended.
  // The handle takes the thread calls above: it is created suspended, before
  // it loads the engine; affinity and priority apply to its process;
  // getExitCodeThread reads STILL_ACTIVE while it runs, then its exit status
  // (128 + the signal when a signal killed it); the user time is the
  // process's; terminateThread kills it and waits up to waitMs for its end;
  // closeHandle kills a worker still running and reaps it. The worker hands
  // workerStopFlag() to the engine and RunTest runTestArgument.
  virtual ThreadHandle createWorkerSuspended(int runTestArgument) = 0;
  // The signal that killed an ended worker; 0 when it exited by itself or
  // still runs.
  virtual bool getWorkerSignal(ThreadHandle worker, int *signal) = 0;
  // The arithmetic the worker's engine has verified so far (see
  // WorkerCounters.h); readable while it runs and after it ended, until the
  // handle is closed. False for a handle that is not an open worker.
  virtual bool getWorkerCounters(ThreadHandle worker,
                                 WorkerCounters *counters) = 0;
  // The worker's WorkerPage, shared with its engine: the program writes the
  // run's seed there before resuming it. Valid until the handle is closed;
  // nullptr for a handle that is not an open worker.
  virtual WorkerPage *workerPage(ThreadHandle worker) = 0;
  // A new, zeroed RunRegion with a channel per worker, shared with the
  // workers created after it (each finds its place in its WorkerPage's
  // worker); the previous one is let go. Fewer than two workers, or no
  // memory for it: nullptr, and the workers get none.
  virtual RunRegion *openRunRegion(int workers) = 0;
  // Pauses a started worker's process, or lets it go on: a paused worker
  // takes no processor time at all (it does not spin) and sees no stop
  // flag until it goes on. False for a thread or a worker that ended.
  virtual bool pauseWorker(ThreadHandle worker, bool paused) = 0;

  // Process. The process mask is the set of processors the process may run
  // on (taskset, a cgroup cpuset, a container may narrow it); the system mask
  // is the set of online processors.
  virtual bool getProcessAffinityMask(CpuSet *processMask,
                                      CpuSet *systemMask) = 0;
  // Pins the calling thread (the user-interface thread) to the mask, which
  // must lie within the process mask.
  virtual bool setProcessAffinityMask(const CpuSet &mask) = 0;
  // Only root may raise the priority: an ordinary user's change to a higher
  // class, even back to normal, is refused and leaves the class in force.
  virtual bool setPriorityClass(uint32_t priorityClass) = 0;
  // The class in force: normal at start, then the last one set.
  virtual uint32_t currentPriorityClass() = 0;

  // Time.
  virtual void sleep(uint32_t ms) = 0;
  virtual int64_t performanceFrequency() = 0;
  virtual int64_t performanceCounter() = 0;
  virtual uint32_t timeGetTime() = 0; // milliseconds

  // Named shared memory published by another program; nullptr when absent
  // or refused, with the reason in *refusal when it is given. Only a regular
  // file owned by this user or by root is read: anything else could block
  // the caller or be a value planted by another local user.
  virtual std::unique_ptr<SharedMemoryView>
  openSharedMemory(const std::string &name,
                   SharedMemoryRefusal *refusal = nullptr) = 0;

  // Appends bytes to a file, created if absent, and returns once they are
  // on the disk (fdatasync): a machine that freezes right after keeps them.
  virtual bool appendToDisk(const std::string &path,
                            const std::string &bytes) = 0;

  // Hardware-monitoring chips as lm-sensors shows them, the user's sensors
  // configuration (labels, ignored inputs, computed voltages) applied. The
  // chips are found at the first call and again at each rescan, never in
  // between, so that a reading stays cheap.
  virtual void rescanSensors() = 0;
  // Every temperature and voltage input, chip by chip, with its value now.
  virtual std::vector<SensorInput> sensorInputs() = 0;
  // The value of one input now; false when there is no such input or it
  // cannot be read.
  virtual bool readSensorInput(const std::string &chip,
                               const std::string &label, SensorKind kind,
                               double *value) = 0;

  // The kernel's hardware error counters that need no administrator rights:
  // each EDAC memory controller and its rows, and the machine-check
  // interrupts (corrected: threshold; uncorrected: exceptions and deferred
  // errors). Empty when the kernel offers none.
  virtual std::vector<ErrorCounter> hardwareErrorCounters() = 0;

  // PCI configuration space through the kernel (the device's sysfs config
  // file), so that an access takes the kernel's lock instead of racing its
  // own use of ports 0xCF8/0xCFC. device is "0000:00:18.3"; a register is 32
  // bits at a multiple of 4. A write changes one byte and needs root.
  virtual PciConfigRead readPciConfig(const std::string &device,
                                      uint32_t offset, uint32_t *value) = 0;
  virtual bool writePciConfigByte(const std::string &device, uint32_t offset,
                                  uint8_t value) = 0;
  // The kernel driver bound to a PCI device ("k8temp"), empty when none.
  virtual std::string pciDriver(const std::string &device) = 0;

  // Dynamic libraries, looked up beside the executable, then in the working
  // directory.
  virtual LibraryHandle loadLibrary(const std::string &fileName) = 0;
  virtual void *getProcAddress(LibraryHandle library, const char *name) = 0;
  virtual void freeLibrary(LibraryHandle library) = 0;

  // Switches the computer off; waits for the command to return.
  virtual void runShutdownCommand() = 0;

  // The clock the kernel last saw on processor cpu (cpufreq), in kHz; false
  // where it publishes none.
  virtual bool processorClockKHz(int cpu, uint64_t *kHz) = 0;

  // A file the kernel publishes under /proc or /sys, whole; false where it
  // is absent or cannot be read.
  virtual bool readKernelText(const std::string &path, std::string *text) = 0;
  // The running kernel's release ("6.1.0-28-amd64"), empty if unknown.
  virtual std::string kernelRelease() = 0;

  // A descriptor that turns readable once the program is asked to end: by
  // SIGTERM (logout, shutdown, kill, a scheduler's time limit), SIGHUP (the
  // session went away) or SIGINT (Ctrl+C). The same descriptor on every
  // call; -1 when the requests cannot be watched.
  virtual int terminationRequests() = 0;
};

// The files Vorsk keeps in its working folder. Where another user can write,
// a name may hold a symbolic link to any file of this user, a FIFO that
// blocks whoever opens it, or contents someone else planted: only a regular
// file owned by this user is read or appended to, never through a link,
// never waiting. False when the file is refused or cannot be used.
bool readOwnFile(const std::string &path, std::string *bytes);
// Creates the file when it is absent.
bool appendOwnFile(const std::string &path, const std::string &bytes);
// Writes the bytes to a new file beside path, then renames it over path: a
// reader sees the old file or the new one, and a link at path is replaced,
// not followed.
bool replaceOwnFile(const std::string &path, const std::string &bytes);
// A folder owned by this user that neither its group nor others may write.
bool isPrivateFolder(const std::string &path);

// The run's stop flag, in memory shared with every worker process. It lives
// as long as the program; 1 at start.
int &workerStopFlag();

// The platform every caller uses. The program installs the Linux one at
// start; tests install a FakePlatform. Never null.
Platform &platform();
// Installs p (not owned) and returns the previous one.
Platform *setPlatform(Platform *p);

#include "platform/fake/FakePlatform.h"

#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {
struct FakeLibrary {
  std::map<std::string, void *> symbols;
};
} // namespace

void FakePlatform::failCall(Op op, int nth) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  failNth_[op].insert(nth);
}

void FakePlatform::failAlways(Op op, bool fail) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (fail)
    failAlways_.insert(op);
  else
    failAlways_.erase(op);
}

int FakePlatform::callCount(Op op) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

bool FakePlatform::failing(Op op) {
  int n = calls_[op]++;
  return failAlways_.count(op) || failNth_[op].count(n);
}

FakePlatform::Thread *FakePlatform::thread(ThreadHandle h) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (h == 0 || h > threads_.size())
    return nullptr;
  return threads_[h - 1].get();
}

FakePlatform::Thread *FakePlatform::open(ThreadHandle h) {
  Thread *t = thread(h);
  return t && !t->closed ? t : nullptr;
}

std::vector<ThreadHandle> FakePlatform::handles() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<ThreadHandle> result;
  for (size_t i = 0; i < threads_.size(); ++i)
    result.push_back(i + 1);
  return result;
}

void FakePlatform::advance(uint64_t ms) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  nowNs_ += ms * 1'000'000;
}

ThreadHandle FakePlatform::createThreadSuspended(ThreadProc proc, void *param) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (failing(Op::CreateThread))
    return 0;
  auto t = std::make_unique<Thread>();
  t->proc = proc;
  t->param = param;
  threads_.push_back(std::move(t));
  return threads_.size();
}

bool FakePlatform::setThreadAffinityMask(ThreadHandle h, const CpuSet &mask) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (failing(Op::SetThreadAffinityMask) || !t ||
      !mask.isSubsetOf(processMask) || mask.empty())
    return false;
  t->affinity = mask;
  return true;
}

bool FakePlatform::setThreadPriority(ThreadHandle h, ThreadPriority p) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (failing(Op::SetThreadPriority) || !t)
    return false;
  t->priority = p;
  return true;
}

bool FakePlatform::setThreadPriorityBoost(ThreadHandle h, bool disable) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (failing(Op::SetThreadPriorityBoost) || !t)
    return false;
  t->boostDisabled = disable;
  return true;
}

uint32_t FakePlatform::resumeThread(ThreadHandle h) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (failing(Op::ResumeThread) || !t || !t->suspended)
    return RESUME_FAILED;
  t->suspended = false;
  if (runOnResume && !t->worker)
    t->exitCode = t->proc(t->param);
  return 1;
}

WaitResult FakePlatform::waitForThread(ThreadHandle h, uint32_t ms) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (failing(Op::WaitForThread) || !t)
    return WaitResult::Failed;
  if (t->exitCode != STILL_ACTIVE)
    return WaitResult::Ended;
  advance(ms);
  return WaitResult::TimedOut;
}

bool FakePlatform::getExitCodeThread(ThreadHandle h, uint32_t *code) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (failing(Op::GetExitCodeThread) || !t)
    return false;
  *code = t->exitCode;
  return true;
}

bool FakePlatform::getThreadUserTime(ThreadHandle h, uint64_t *time100ns) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (failing(Op::GetThreadUserTime) || !t)
    return false;
  *time100ns = t->userTime;
  return true;
}

bool FakePlatform::terminateThread(ThreadHandle h, uint32_t) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (!t)
    return false;
  t->terminated = true;
  if (t->exitCode == STILL_ACTIVE)
    t->exitCode = 0;
  return true;
}

bool FakePlatform::closeHandle(ThreadHandle h) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (!t)
    return false;
  t->closed = true;
  return true;
}

ThreadHandle FakePlatform::createWorkerSuspended(int runTestArgument) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const ThreadHandle h = createThreadSuspended(nullptr, nullptr);
  if (Thread *t = thread(h)) {
    t->worker = true;
    t->runTestArgument = runTestArgument;
  }
  return h;
}

bool FakePlatform::getWorkerSignal(ThreadHandle h, int *signal) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (!t || !t->worker)
    return false;
  *signal = t->exitCode == STILL_ACTIVE ? 0 : t->signal;
  return true;
}

bool FakePlatform::getWorkerCounters(ThreadHandle h, WorkerCounters *counters) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (!t || !t->worker)
    return false;
  *counters = t->counters;
  return true;
}

WorkerPage *FakePlatform::workerPage(ThreadHandle h) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  return t && t->worker ? &t->page : nullptr;
}

RunRegion *FakePlatform::openRunRegion(int workers) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  runRegionWorkers = workers;
  runRegion.clear();
  if (workers < 2)
    return nullptr;
  runRegion.resize(runRegionBytes(workers) / sizeof(CoherenceLine) + 1);
  auto *region = reinterpret_cast<RunRegion *>(runRegion.data());
  region->workers = uint32_t(workers);
  return region;
}

bool FakePlatform::pauseWorker(ThreadHandle h, bool paused) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Thread *t = open(h);
  if (!t || !t->worker || t->suspended || t->exitCode != STILL_ACTIVE)
    return false;
  t->paused = paused;
  return true;
}

bool FakePlatform::getProcessAffinityMask(CpuSet *process, CpuSet *system) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (failing(Op::GetProcessAffinityMask))
    return false;
  *process = processMask;
  *system = systemMask;
  return true;
}

bool FakePlatform::setProcessAffinityMask(const CpuSet &mask) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (failing(Op::SetProcessAffinityMask) || mask.empty() ||
      !mask.isSubsetOf(processMask))
    return false;
  currentAffinity = mask;
  affinityHistory.push_back(mask);
  return true;
}

bool FakePlatform::setPriorityClass(uint32_t cls) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (failing(Op::SetPriorityClass))
    return false;
  priorityClass = cls;
  return true;
}

uint32_t FakePlatform::currentPriorityClass() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return priorityClass;
}

void FakePlatform::sleep(uint32_t ms) {
  advance(ms);
  if (onSleep)
    onSleep(ms);
}

int64_t FakePlatform::performanceFrequency() { return 1'000'000'000; }

int64_t FakePlatform::performanceCounter() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return static_cast<int64_t>(nowNs_);
}

uint32_t FakePlatform::timeGetTime() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return static_cast<uint32_t>(nowNs_ / 1'000'000);
}

void FakePlatform::publish(const std::string &name,
                           std::vector<unsigned char> bytes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  refused_.erase(name);
  shared_[name] = std::move(bytes);
}

void FakePlatform::unpublish(const std::string &name) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  shared_.erase(name);
  refused_.erase(name);
}

void FakePlatform::publishRefused(const std::string &name,
                                  SharedMemoryRefusal why) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  shared_.erase(name);
  refused_[name] = why;
}

std::unique_ptr<SharedMemoryView>
FakePlatform::openSharedMemory(const std::string &name,
                               SharedMemoryRefusal *refusal) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SharedMemoryRefusal why = SharedMemoryRefusal::Missing;
  std::unique_ptr<SharedMemoryView> view;
  if (auto it = shared_.find(name); it != shared_.end()) {
    why = SharedMemoryRefusal::None;
    view = std::make_unique<SharedMemoryView>(it->second);
  } else if (auto r = refused_.find(name); r != refused_.end()) {
    why = r->second;
  }
  if (refusal)
    *refusal = why;
  return view;
}

void FakePlatform::rescanSensors() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ++sensorRescans;
}

std::vector<SensorInput> FakePlatform::sensorInputs() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return sensors;
}

bool FakePlatform::readSensorInput(const std::string &chip,
                                   const std::string &label, SensorKind kind,
                                   double *value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (const SensorInput &input : sensors)
    if (input.chip == chip && input.label == label && input.kind == kind &&
        !std::isnan(input.value)) {
      *value = input.value;
      return true;
    }
  return false;
}

std::vector<ErrorCounter> FakePlatform::hardwareErrorCounters() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return errorCounters;
}

namespace {
const uint32_t UNREFUSED_CONFIG_BYTES = 64;
}

PciConfigRead FakePlatform::readPciConfig(const std::string &device,
                                          uint32_t offset, uint32_t *value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto known = pciRegisters.lower_bound({device, 0, 0});
  if (known == pciRegisters.end() || std::get<0>(known->first) != device)
    return PciConfigRead::Missing;
  if (offset >= UNREFUSED_CONFIG_BYTES && pciRefused.count(device))
    return PciConfigRead::Refused;
  auto written = pciWritten_.find({device, offset});
  const uint8_t select = written == pciWritten_.end() ? 0 : written->second;
  auto it = pciRegisters.find({device, offset, select});
  *value = it == pciRegisters.end() ? 0xFFFFFFFFu : it->second;
  return PciConfigRead::Read;
}

bool FakePlatform::writePciConfigByte(const std::string &device,
                                      uint32_t offset, uint8_t value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ++pciWrites;
  auto known = pciRegisters.lower_bound({device, 0, 0});
  if (known == pciRegisters.end() || std::get<0>(known->first) != device ||
      pciRefused.count(device))
    return false;
  pciWritten_[{device, offset}] = value;
  return true;
}

void FakePlatform::addLibrary(const std::string &fileName,
                              std::map<std::string, void *> symbols) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  libraries_[fileName] = std::move(symbols);
}

bool FakePlatform::appendToDisk(const std::string &path,
                                const std::string &bytes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  diskFiles[path] += bytes;
  return true;
}

LibraryHandle FakePlatform::loadLibrary(const std::string &fileName) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = libraries_.find(fileName);
  if (it == libraries_.end())
    return nullptr;
  loadedLibraries.push_back(fileName);
  ++openLibraries;
  return new FakeLibrary{it->second};
}

void *FakePlatform::getProcAddress(LibraryHandle library, const char *name) {
  auto *lib = static_cast<FakeLibrary *>(library);
  auto it = lib->symbols.find(name);
  return it == lib->symbols.end() ? nullptr : it->second;
}

void FakePlatform::freeLibrary(LibraryHandle library) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  delete static_cast<FakeLibrary *>(library);
  --openLibraries;
}

bool FakePlatform::processorClockKHz(int cpu, uint64_t *kHz) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = processorClocksKHz.find(cpu);
  if (it == processorClocksKHz.end())
    return false;
  *kHz = it->second;
  return true;
}

bool FakePlatform::readKernelText(const std::string &path, std::string *text) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = kernelTexts.find(path);
  if (it == kernelTexts.end())
    return false;
  *text = it->second;
  return true;
}

std::string FakePlatform::kernelRelease() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return release;
}

void FakePlatform::runShutdownCommand() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ++shutdownRequests;
}

FakePlatform::~FakePlatform() {
  for (int end : terminationPipe_)
    if (end >= 0)
      close(end);
}

int FakePlatform::terminationRequests() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (terminationPipe_[0] < 0 &&
      pipe2(terminationPipe_, O_CLOEXEC | O_NONBLOCK) != 0)
    return -1;
  return terminationPipe_[0];
}

void FakePlatform::requestTermination() {
  const char request = 1;
  if (terminationRequests() < 0 ||
      write(terminationPipe_[1], &request, 1) < 0) {
    // Full pipe: a request is already pending.
  }
}

std::string FakePlatform::pciDriver(const std::string &device) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto bound = pciDrivers.find(device);
  return bound == pciDrivers.end() ? std::string() : bound->second;
}

#include "platform/linux/LinuxCpuAccess.h"

#include <chrono>
#include <cpuid.h>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#include <x86intrin.h>

namespace {

const char DEBUG_PRIVILEGE[] = "SeDebugPrivilege";

int openMsrDevice(int cpu) {
  if (cpu < 0)
    return -1;
  char path[40];
  std::snprintf(path, sizeof path, "/dev/cpu/%d/msr", cpu);
  return ::open(path, O_RDONLY | O_CLOEXEC);
}

// The MSR device of the processor the calling thread runs on, or -1.
int openMsrDevice() { return openMsrDevice(sched_getcpu()); }

// The kernel runs the read on the device's processor.
bool readMsrDevice(int fd, uint32_t msr, uint64_t *value) {
  if (fd < 0)
    return false;
  uint64_t v = 0;
  bool ok = ::pread(fd, &v, sizeof v, msr) == sizeof v;
  ::close(fd);
  if (ok)
    *value = v;
  return ok;
}

class LinuxCpuAccess : public CpuAccess {
public:
  CpuidResult cpuid(uint32_t leaf, uint32_t subleaf) override {
    CpuidResult r;
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
    return r;
  }

  uint64_t rdtsc() override { return __rdtsc(); }

  uint64_t xgetbv(uint32_t index) override {
    uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(index));
    return uint64_t(high) << 32 | low;
  }

  void spin(int ms) override {
    if (ms <= 0)
      return;
    auto start = std::chrono::steady_clock::now();
    auto interval = std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() - start < interval) {
    }
  }

  bool setPrivilege(const char *name, bool enable) override {
    if (!name || std::strcmp(name, DEBUG_PRIVILEGE) != 0)
      return false;
    if (!enable)
      return true;
    int fd = openMsrDevice();
    if (fd < 0)
      return false;
    ::close(fd);
    return true;
  }

  bool readMsr(uint32_t msr, uint64_t *value) override {
    return readMsrDevice(openMsrDevice(), msr, value);
  }

  bool readMsrOf(int cpu, uint32_t msr, uint64_t *value) override {
    return readMsrDevice(openMsrDevice(cpu), msr, value);
  }
};

} // namespace

CpuAccess &linuxCpuAccess() {
  static LinuxCpuAccess instance;
  return instance;
}

#include "platform/CpuAccess.h"

#include "platform/linux/LinuxCpuAccess.h"

namespace {
CpuAccess *current = nullptr;
}

CpuAccess &cpuAccess() { return current ? *current : linuxCpuAccess(); }

CpuAccess *setCpuAccess(CpuAccess *c) {
  CpuAccess *previous = current ? current : &linuxCpuAccess();
  current = c;
  return previous;
}

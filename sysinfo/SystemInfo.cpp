#include "sysinfo/SystemInfo.h"

#include "stress/ThreadStress.h"

SystemInfo m_SystemInfo{};

int l2KbPerLogical(const SystemInfo &info) {
  return ComputeRunTestArgument(info.L2PerPackage, info.PackageCount,
                                info.L2Size, info.LogicalCount);
}

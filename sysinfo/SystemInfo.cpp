#include "sysinfo/SystemInfo.h"

#include "stress/ThreadStress.h"

SystemInfo m_SystemInfo{};

int l2KbPerLogical(const SystemInfo &info) {
  if (info.L2TotalKb)
    return info.LogicalCount ? int(info.L2TotalKb / info.LogicalCount) : 0;
  return ComputeRunTestArgument(info.L2PerPackage, info.PackageCount,
                                info.L2Size, info.LogicalCount);
}

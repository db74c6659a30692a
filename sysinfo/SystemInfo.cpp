#include "sysinfo/SystemInfo.h"

SystemInfo m_SystemInfo{};

int l2KbPerLogical(const SystemInfo &info) {
  if (info.LogicalCount == 0)
    return 0;
  return info.L2PerPackage * info.PackageCount * info.L2Size /
         info.LogicalCount;
}

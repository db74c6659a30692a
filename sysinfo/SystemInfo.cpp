#include "sysinfo/SystemInfo.h"

SystemInfo m_SystemInfo{};

int l2KbPerLogical(const SystemInfo &info) { return int(info.L2ShareKb); }

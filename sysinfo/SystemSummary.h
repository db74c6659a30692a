#pragma once

#include "sysinfo/SystemInfo.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace sysinfo {

// Where the identification reports: a line for the log pane, or a warning
// box.
struct SystemReport {
  std::function<void(const QString &)> logLine;
  std::function<void(const QString &)> warning;
};

// Identifies the machine into m_SystemInfo, visiting every logical processor
// the process may run on by pinning the calling thread to it. processMask
// receives that set. 1 when the identification ran to its end, 0 when the
// set could not be read or is empty.
int InitialiseSystem(CpuSet *processMask, const SystemReport &report);

// "Vorsk 1.0.4 (<running system>)".
QString windowTitle();
QString instructionsText(uint32_t instructions);
// The list with the SSE levels as a range and the AVX family by its widest
// members, for a label too narrow for the whole list.
QString shortInstructionsText(uint32_t instructions);
// Empty (label left as it is) when the L2 size is unknown.
QString cacheL2Text(const SystemInfo &info);
QString configurationText(const SystemInfo &info);
QString processorNameText(const SystemInfo &info);

} // namespace sysinfo

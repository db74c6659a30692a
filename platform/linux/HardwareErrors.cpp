#include "platform/linux/HardwareErrors.h"

#include "platform/linux/LinuxParse.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include <dirent.h>

namespace {

const char EdacDir[] = "/sys/devices/system/edac/mc";

std::string readText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The entries prefix0, prefix1, ... of a folder, in number order.
std::vector<std::string> numberedEntries(const std::string &dir,
                                         const std::string &prefix) {
  std::vector<std::pair<uint64_t, std::string>> found;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *entry = readdir(d)) {
      const std::string name = entry->d_name;
      uint64_t number = 0;
      if (name.compare(0, prefix.size(), prefix) == 0 &&
          parseCounter(name.substr(prefix.size()), &number))
        found.emplace_back(number, name);
    }
    closedir(d);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (const auto &entry : found)
    names.push_back(entry.second);
  return names;
}

bool readCounts(const std::string &dir, ErrorCounter *counter) {
  return parseCounter(readText(dir + "/ce_count"), &counter->corrected) &&
         parseCounter(readText(dir + "/ue_count"), &counter->uncorrected);
}

} // namespace

std::vector<ErrorCounter> readHardwareErrorCounters() {
  std::vector<ErrorCounter> counters;
  for (const std::string &mc : numberedEntries(EdacDir, "mc")) {
    const std::string mcDir = std::string(EdacDir) + "/" + mc;
    ErrorCounter controller{"EDAC " + mc};
    if (!readCounts(mcDir, &controller))
      continue;
    counters.push_back(controller);
    for (const std::string &row : numberedEntries(mcDir, "csrow")) {
      ErrorCounter rowCounter{"EDAC " + mc + " " + row};
      if (readCounts(mcDir + "/" + row, &rowCounter))
        counters.push_back(rowCounter);
    }
  }
  const std::string interrupts = readText("/proc/interrupts");
  uint64_t threshold = 0, exceptions = 0, deferred = 0;
  const bool hasThreshold = parseInterruptTotal(interrupts, "THR", &threshold);
  const bool hasExceptions =
      parseInterruptTotal(interrupts, "MCE", &exceptions);
  parseInterruptTotal(interrupts, "DFR", &deferred);
  if (hasThreshold || hasExceptions)
    counters.push_back({"MCE", threshold, exceptions + deferred});
  return counters;
}

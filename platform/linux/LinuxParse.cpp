#include "platform/linux/LinuxParse.h"

#include <cctype>
#include <sstream>

bool parseTaskStatUserTicks(const std::string &stat, uint64_t *ticks) {
  size_t paren = stat.rfind(')');
  if (paren == std::string::npos)
    return false;
  std::istringstream fields(stat.substr(paren + 1));
  std::string field;
  // After the command name come state (field 3) ... utime (field 14).
  for (int i = 3; i <= 14; ++i)
    if (!(fields >> field))
      return false;
  if (field.empty() || !std::isdigit(static_cast<unsigned char>(field[0])))
    return false;
  *ticks = std::stoull(field);
  return true;
}

bool parseCpuList(const std::string &list, uint64_t *mask) {
  uint64_t result = 0;
  std::istringstream ranges(list);
  std::string range;
  bool any = false;
  while (std::getline(ranges, range, ',')) {
    while (!range.empty() &&
           std::isspace(static_cast<unsigned char>(range.back())))
      range.pop_back();
    if (range.empty())
      continue;
    unsigned long first = 0, last = 0;
    size_t dash = range.find('-');
    try {
      first = std::stoul(range.substr(0, dash));
      last = dash == std::string::npos ? first
                                       : std::stoul(range.substr(dash + 1));
    } catch (...) {
      return false;
    }
    if (last < first)
      return false;
    for (unsigned long cpu = first; cpu <= last && cpu < 64; ++cpu)
      result |= uint64_t(1) << cpu;
    any = true;
  }
  if (!any)
    return false;
  *mask = result;
  return true;
}

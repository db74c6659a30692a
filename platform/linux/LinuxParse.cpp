#include "platform/linux/LinuxParse.h"

#include <cctype>
#include <sstream>

namespace {

// The kernel's NR_CPUS tops out at 8192.
const uint64_t MAX_KERNEL_CPUS = 8192;

// A whole field of decimal digits that fits in 64 bits; stoull alone
// accepts signs, blanks and trailing text, and throws on overflow.
bool parseNumber(const std::string &text, uint64_t *value) {
  if (text.empty() || text.size() > 20)
    return false;
  uint64_t result = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)))
      return false;
    uint64_t digit = uint64_t(c - '0');
    if (result > (UINT64_MAX - digit) / 10)
      return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

} // namespace

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
  return parseNumber(field, ticks);
}

bool parseCpuList(const std::string &list, CpuSet *set) {
  CpuSet result;
  std::istringstream ranges(list);
  std::string range;
  bool any = false;
  while (std::getline(ranges, range, ',')) {
    while (!range.empty() &&
           std::isspace(static_cast<unsigned char>(range.back())))
      range.pop_back();
    if (range.empty())
      continue;
    size_t dash = range.find('-');
    uint64_t first = 0, last = 0;
    if (!parseNumber(range.substr(0, dash), &first))
      return false;
    if (dash == std::string::npos)
      last = first;
    else if (!parseNumber(range.substr(dash + 1), &last))
      return false;
    if (last < first || last >= MAX_KERNEL_CPUS)
      return false;
    for (uint64_t cpu = first; cpu <= last; ++cpu)
      result.add(int(cpu));
    any = true;
  }
  if (!any)
    return false;
  *set = result;
  return true;
}

bool parseInterruptTotal(const std::string &interrupts, const std::string &name,
                         uint64_t *total) {
  std::istringstream lines(interrupts);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string field;
    if (!(fields >> field) || field != name + ":")
      continue;
    // The per-processor counts come first, then the description.
    uint64_t sum = 0, count = 0;
    while (fields >> field && parseNumber(field, &count))
      sum += count;
    *total = sum;
    return true;
  }
  return false;
}

bool parseCounter(const std::string &text, uint64_t *value) {
  std::string digits = text;
  if (!digits.empty() && digits.back() == '\n')
    digits.pop_back();
  return parseNumber(digits, value);
}

bool parseKiloHertz(const std::string &text, uint64_t *kHz) {
  std::string line = text;
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
    line.pop_back();
  uint64_t value = 0;
  if (!parseNumber(line, &value) || value == 0)
    return false;
  *kHz = value;
  return true;
}

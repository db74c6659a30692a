#pragma once

#include "platform/CpuSet.h"

#include <cstdint>
#include <string>

// Text in, values out: the parts of /proc and /sys the Linux layer reads.

// utime (field 14) of /proc/<pid>/task/<tid>/stat, in clock ticks. The
// command name in field 2 may hold blanks and parentheses, so fields are
// counted from the last ')'.
bool parseTaskStatUserTicks(const std::string &stat, uint64_t *ticks);

// A CPU list such as "0-3,6,8-9" as in /sys/devices/system/cpu/online.
// Numbers beyond what any kernel supports are refused.
bool parseCpuList(const std::string &list, CpuSet *set);

// The sum over processors of the /proc/interrupts line named name ("MCE"
// for "MCE:   0   2   Machine check exceptions"); false when there is no
// such line.
bool parseInterruptTotal(const std::string &interrupts, const std::string &name,
                         uint64_t *total);

// A sysfs counter: a decimal number and its line end.
bool parseCounter(const std::string &text, uint64_t *value);

// A cpufreq value such as scaling_cur_freq: kHz, one line; 0 is no clock.
bool parseKiloHertz(const std::string &text, uint64_t *kHz);

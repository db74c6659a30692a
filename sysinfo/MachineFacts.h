#pragma once

#include "platform/CpuSet.h"

#include <QString>

#include <vector>

// What a fleet operator records of a machine beside its processor's
// identification: the microcode each processor runs and whether a hypervisor
// stands between the test and the processor.
namespace sysinfo {

struct Microcode {
  int processor = 0;
  QString revision; // as the kernel writes it, "0xa201016"; empty: unknown
};

// The revision each processor runs, in processor order: from its sysfs
// microcode/version, else from its "microcode" line of /proc/cpuinfo. A
// kernel without the microcode driver publishes only the second, and a
// guest often neither.
std::vector<Microcode> microcodeRevisions(const CpuSet &processors);

// CPUID leaf 1 ECX bit 31, which hypervisors set for their guests.
bool hypervisorPresent();
// The hypervisor's vendor text from CPUID leaf 0x40000000 EBX, ECX, EDX
// ("KVMKVMKVM", "Microsoft Hv"); empty on bare metal, where that leaf holds
// whatever the processor answers for leaves beyond its last, or when the
// hypervisor gives none.
QString hypervisorVendor();

} // namespace sysinfo

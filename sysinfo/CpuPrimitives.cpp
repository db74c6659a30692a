#include "sysinfo/CpuPrimitives.h"

#include "platform/CpuAccess.h"

std::atomic<uint32_t> i_eax{0}, i_ebx{0}, i_ecx{0}, i_edx{0};

namespace {
const char DEBUG_PRIVILEGE[] = "SeDebugPrivilege";
const uint32_t PCI_ADDRESS_PORT = 0xCF8;
const uint32_t PCI_DATA_PORT = 0xCFC;

bool validPort(uint32_t port) { return port <= 0xFFFF; }

// MSR read into the register slots, as Rdmsr and TestZwSystemDebugControl
// share it.
int readMsrIntoSlots(uint32_t msr, uint64_t *value) {
  uint32_t high = 0, low = 0;
  if (!bReadMSR_Win32(msr, &high, &low))
    return 0;
  i_edx = high;
  i_eax = low;
  *value = uint64_t(high) << 32 | low;
  return 1;
}
} // namespace

int bSetPrivilege(const char *name, int enable) {
  return cpuAccess().setPrivilege(name, enable != 0) ? 1 : 0;
}

int bReadMSR_Win32(uint32_t msr, uint32_t *high, uint32_t *low) {
  if (!bSetPrivilege(DEBUG_PRIVILEGE, 1))
    return 0;
  uint64_t value = 0;
  int result = 0;
  if (cpuAccess().readMsr(msr, &value)) {
    *high = uint32_t(value >> 32);
    *low = uint32_t(value);
    result = 1;
  }
  bSetPrivilege(DEBUG_PRIVILEGE, 0);
  return result;
}

int bReadIO_Win32(uint32_t port1, uint32_t value1, uint32_t port2,
                  uint32_t value2, uint32_t *out) {
  if (!bSetPrivilege(DEBUG_PRIVILEGE, 1))
    return 0;
  CpuAccess &cpu = cpuAccess();
  bool first = validPort(port1) && cpu.writePort(uint16_t(port1), value1);
  bool second = validPort(port2) && cpu.writePort(uint16_t(port2), value2);
  bool read = validPort(port2) && cpu.readPort(uint16_t(port2), out);
  bSetPrivilege(DEBUG_PRIVILEGE, 0);
  return first && second && read ? 1 : 0;
}

void Wait(int ms) { cpuAccess().spin(ms); }

void Cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidResult r = cpuAccess().cpuid(leaf, subleaf);
  i_eax = r.eax;
  i_ebx = r.ebx;
  i_ecx = r.ecx;
  i_edx = r.edx;
}

uint64_t Rdtsc() { return cpuAccess().rdtsc(); }

int TestZwSystemDebugControl() {
  uint64_t value = 0;
  return readMsrIntoSlots(0, &value);
}

uint64_t Rdmsr(uint32_t msr) {
  uint64_t value = 0;
  readMsrIntoSlots(msr, &value);
  return value;
}

uint32_t ReadK8ThermTrip(uint32_t address, uint32_t select) {
  uint32_t result = 0;
  bReadIO_Win32(PCI_ADDRESS_PORT, address, PCI_DATA_PORT, select, &result);
  return result;
}

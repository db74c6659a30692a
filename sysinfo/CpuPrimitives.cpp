#include "sysinfo/CpuPrimitives.h"

#include "platform/CpuAccess.h"

#include <cstdio>

std::atomic<uint32_t> i_eax{0}, i_ebx{0}, i_ecx{0}, i_edx{0};

namespace {
const char DEBUG_PRIVILEGE[] = "SeDebugPrivilege";

uint32_t pciRegisterOffset(uint32_t address) { return address & 0xFC; }

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

bool ReadProcessorMsr(int processor, uint32_t msr, uint64_t *value) {
  return cpuAccess().readMsrOf(processor, msr, value);
}

std::string pciDeviceName(uint32_t address) {
  char name[16];
  std::snprintf(name, sizeof name, "0000:%02x:%02x.%x",
                unsigned(address >> 16 & 0xFF), unsigned(address >> 11 & 0x1F),
                unsigned(address >> 8 & 0x7));
  return name;
}

PciConfigRead pciRegisterAccess(uint32_t address) {
  uint32_t value = 0;
  return platform().readPciConfig(pciDeviceName(address),
                                  pciRegisterOffset(address), &value);
}

uint32_t ReadK8ThermTrip(uint32_t address, uint32_t select) {
  Platform &os = platform();
  const std::string device = pciDeviceName(address);
  const uint32_t offset = pciRegisterOffset(address);
  // A refused select still reads the core last selected: the result stands,
  // as the success of the write is not examined.
  os.writePciConfigByte(device, offset, uint8_t(select));
  uint32_t result = 0;
  if (os.readPciConfig(device, offset, &result) != PciConfigRead::Read)
    return 0;
  return result;
}

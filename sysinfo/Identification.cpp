#include "sysinfo/Identification.h"

#include "platform/CpuAccess.h"
#include "sysinfo/CpuPrimitives.h"
#include "sysinfo/SystemInfo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sysinfo {

namespace {

// A hypervisor may report cache sub-leaves without end; real processors
// list a handful.
const uint32_t MAX_CACHE_SUBLEAVES = 64;

bool bit(uint32_t reg, int n) { return (reg >> n) & 1; }

void copyRegister(char *to, uint32_t reg) { std::memcpy(to, &reg, 4); }

// The zeros at name[r] stand for an engineering sample's missing model
// number ("CPU 0000 @"), unless they are a lone "0": a retail model suffix
// ("E5-2650 0 @") or a number ("0.80GHz").
bool marksSample(const char *name, int r, int last) {
  if (name[r] != '0')
    return false;
  char next = r + 1 <= last ? name[r + 1] : 0;
  return next != ' ' && next != 0 && next != '.';
}

// A name longer than the 47 characters of ProcessorName is cut.
void setName(char *name, const char *text) {
  size_t length = std::min<size_t>(std::strlen(text), 47);
  std::memcpy(name, text, length);
  std::memset(name + length, 0, 48 - length);
}

// The name as the processor states it, from leaves 0x80000002..4.
void readBrandString(char *name) {
  for (uint32_t i = 0; i < 3; ++i) {
    Cpuid(0x80000002 + i, 0);
    char *p = name + 16 * i;
    copyRegister(p, i_eax);
    copyRegister(p + 4, i_ebx);
    copyRegister(p + 8, i_ecx);
    copyRegister(p + 12, i_edx);
  }
  SetCorrectBrandString(name);
}

uint16_t l2SizeFromLeaf2() {
  Cpuid(2, 0);
  uint32_t edx = i_edx;
  uint16_t size = 0;
  for (int shift = 24; shift >= 0; shift -= 8) {
    uint16_t s = l2DescriptorSize(uint8_t(edx >> shift));
    if (s)
      size = s;
  }
  return size;
}

// Cores per package and L2 caches per package of an Intel processor with
// several logical processors per package, from the deterministic cache
// leaf.
void countIntelCores(SystemInfo &info) {
  info.CoresPerPackage = 1;
  info.L2PerPackage = 1;
  Cpuid(0, 0);
  if (i_eax < 4)
    return;
  for (uint32_t sub = 0; sub < MAX_CACHE_SUBLEAVES; ++sub) {
    Cpuid(4, sub);
    uint32_t eax = i_eax;
    if ((eax & 0x1F) == 0)
      break;
    if (((eax >> 5) & 0x7) != 2)
      continue;
    info.CoresPerPackage = uint8_t((eax >> 26) + 1);
    unsigned sharing = ((eax >> 14) & 0xFFF) + 1;
    // A cache shared by more processors than the package reports still
    // counts as one per package.
    unsigned perPackage = info.LogicalPerPackage / sharing;
    info.L2PerPackage = uint8_t(perPackage ? perPackage : 1);
  }
}

// AVX and what builds on it count only when the operating system saves the
// registers: leaf 1 ECX bit 27 (OSXSAVE), then XCR0 bits 1-2 (SSE and AVX
// states) and 5-7 (AVX-512 states).
uint32_t avxExtensions(uint32_t highestLeaf, uint32_t ecx1) {
  if (!bit(ecx1, 27))
    return 0;
  uint64_t xcr0 = cpuAccess().xgetbv(0);
  if ((xcr0 & 0x6) != 0x6 || !bit(ecx1, 28))
    return 0;
  uint32_t ins = INS_AVX;
  if (bit(ecx1, 12))
    ins |= INS_FMA3;
  if (highestLeaf < 7)
    return ins;
  Cpuid(7, 0);
  uint32_t ebx7 = i_ebx;
  if (bit(ebx7, 5))
    ins |= INS_AVX2;
  if (bit(ebx7, 16) && (xcr0 & 0xE0) == 0xE0)
    ins |= INS_AVX512F;
  return ins;
}

} // namespace

int CheckCpuType() {
  SystemInfo &info = m_SystemInfo;
  char vendor[13] = " Unknown CPU";

  Cpuid(0, 0);
  if (i_eax == 0) {
    info.Vendor = VENDOR_UNKNOWN;
    info.Instructions = 0;
  } else {
    copyRegister(vendor, i_ebx);
    copyRegister(vendor + 4, i_edx);
    copyRegister(vendor + 8, i_ecx);
    vendor[12] = 0;
    if (std::memcmp(vendor, "GenuineIntel", 13) == 0)
      info.Vendor = VENDOR_INTEL;
    else if (std::memcmp(vendor, "AuthenticAMD", 13) == 0)
      info.Vendor = VENDOR_AMD;
    else
      info.Vendor = VENDOR_UNKNOWN;
  }

  Cpuid(1, 0);
  uint32_t signature = i_eax;
  uint8_t brandIndex = uint8_t(i_ebx);
  info.Family = (signature >> 8) & 0xF;
  info.Model = (signature >> 4) & 0xF;
  info.Stepping = signature & 0xF;

  Cpuid(0x80000000, 0);
  if (i_eax > 0x80000003) {
    readBrandString(info.ProcessorName);
  } else if (info.Vendor == VENDOR_INTEL && brandIndexName(brandIndex)) {
    setName(info.ProcessorName, brandIndexName(brandIndex));
  } else {
    const char *prefix =
        info.Vendor == VENDOR_INTEL ? "Intel(R) Processor" : vendor;
    char text[96];
    std::snprintf(text, sizeof text, "%s Family %u Model %u Stepping %u",
                  prefix, unsigned(info.Family), unsigned(info.Model),
                  unsigned(info.Stepping));
    setName(info.ProcessorName, text);
  }

  Cpuid(0x80000000, 0);
  if (i_eax > 0x80000005) {
    Cpuid(0x80000006, 0);
    info.L2Size = uint16_t(i_ecx >> 16);
  } else {
    info.L2Size = l2SizeFromLeaf2();
  }
  return 1;
}

void SetCorrectBrandString(char *name) {
  const int last = 46; // only positions 0..46 are read or written
  char out[48] = {};
  int r = 0, w = 0;
  while (r <= last && w <= last && name[r] != 0) {
    if (name[r] != ' ') {
      out[w++] = name[r++];
      continue;
    }
    while (r <= last && name[r] == ' ')
      ++r;
    if (r > last || name[r] == 0)
      break; // trailing spaces disappear
    out[w++] = ' ';
    if (marksSample(name, r, last)) {
      while (r <= last && name[r] == '0')
        ++r;
      for (char c : {'E', 'S'})
        if (w <= last)
          out[w++] = c;
    }
  }
  std::memcpy(name, out, sizeof out);
}

int CheckInstructions() {
  SystemInfo &info = m_SystemInfo;
  bool amd = info.Vendor == VENDOR_AMD;
  uint32_t ins = 0;

  Cpuid(0, 0);
  uint32_t highest = i_eax;
  Cpuid(1, 0);
  uint32_t ecx = i_ecx, edx = i_edx;
  if (bit(edx, 0))
    ins |= INS_FPU;
  if (bit(edx, 23))
    ins |= INS_MMX;
  if (bit(edx, 25))
    ins |= INS_SSE;
  if (bit(edx, 26))
    ins |= INS_SSE2;
  if (bit(ecx, 0))
    ins |= INS_SSE3;
  if (bit(ecx, 9))
    ins |= INS_SSSE3;
  if (bit(ecx, 19))
    ins |= INS_SSE41;
  if (bit(ecx, 20))
    ins |= INS_SSE42;
  ins |= avxExtensions(highest, ecx);
  info.Instructions = ins;

  Cpuid(0x80000000, 0);
  if (i_eax <= 0x80000000)
    return 0;

  Cpuid(0x80000001, 0);
  ecx = i_ecx;
  edx = i_edx;
  if (bit(edx, 29))
    ins |= INS_X86_64;
  if (amd && bit(edx, 31))
    ins |= INS_3DNOW;
  if (amd && bit(ecx, 6))
    ins |= INS_SSE4A;
  info.Instructions = ins;
  return 1;
}

int CpuCount() {
  SystemInfo &info = m_SystemInfo;
  Cpuid(1, 0);
  uint32_t ebx = i_ebx, edx = i_edx;
  info.HyperThreading = bit(edx, 28) ? 1 : 0;
  uint8_t logical = uint8_t(ebx >> 16);
  info.LogicalPerPackage = logical ? logical : 1;
  // AMD counts a package's cores in 0x80000008 (ECX 7..0, minus one); leaf
  // 1's count is only the identifiers set aside for them, 254 in some
  // guests of one core per package.
  Cpuid(0x80000000, 0);
  if (info.Vendor == VENDOR_AMD && i_eax >= 0x80000008) {
    Cpuid(0x80000008, 0);
    info.LogicalPerPackage = uint16_t((i_ecx & 0xFF) + 1);
  }

  if (info.Vendor != VENDOR_INTEL || info.LogicalPerPackage == 1) {
    info.CoresPerPackage = info.LogicalPerPackage;
    info.L2PerPackage = info.LogicalPerPackage;
  } else {
    countIntelCores(info);
  }
  return 1;
}

const char *brandIndexName(uint8_t index) {
  switch (index) {
  case 1:
  case 10:
  case 20:
    return "Intel(R) Celeron(R) processor";
  case 2:
  case 4:
    return "Intel(R) Pentium(R) III processor";
  case 3:
    return "Intel(R) Pentium(R) III Xeon(TM) processor";
  case 6:
    return "Mobile Intel(R) Pentium(R) III Processor";
  case 7:
  case 15:
  case 19:
  case 23:
    return "Mobile Intel(R) Celeron(R) processor";
  case 8:
  case 9:
    return "Intel(R) Pentium(R) 4 processor";
  case 11:
    return "Intel(R) Xeon(TM) processor";
  case 12:
    return "Intel(R) Xeon(TM) Processor MP";
  case 14:
    return "Mobile Intel(R) Pentium(R) 4 Processor";
  case 17:
  case 21:
    return "Mobile Intel(R) processor";
  case 18:
    return "Mobile Intel(R) Celeron(R) M processor";
  case 22:
    return "Intel(R) Pentium(R) M processor";
  default:
    return nullptr;
  }
}

uint16_t l2DescriptorSize(uint8_t descriptor) {
  switch (descriptor) {
  case 0x39:
  case 0x3B:
  case 0x41:
  case 0x79:
    return 128;
  case 0x3C:
  case 0x42:
  case 0x7A:
  case 0x82:
    return 256;
  case 0x3E:
  case 0x43:
  case 0x7B:
  case 0x7F:
  case 0x83:
  case 0x86:
    return 512;
  case 0x44:
  case 0x78:
  case 0x7C:
  case 0x84:
  case 0x87:
    return 1024;
  case 0x45:
  case 0x7D:
  case 0x85:
    return 2048;
  default:
    return 0;
  }
}

} // namespace sysinfo

#pragma once

#include <cstdint>

// Identification of the processor the calling thread runs on, by CPUID, into
// m_SystemInfo. The main window's methods of the same names call these.
namespace sysinfo {

// Vendor, family, model, stepping, name and L2 size. Always 1.
int CheckCpuType();
// Normalises a 48-byte brand string in place: space runs folded to one,
// trailing spaces dropped, the zeros of an engineering sample's name after a
// space become "ES" (a lone retail "0" stays).
void SetCorrectBrandString(char *name);
// Instruction-set extensions, the AVX family only where the OS enables it;
// 0 when there are no extended leaves.
int CheckInstructions();
// Logical processors, cores and L2 caches per package, and the
// multi-threading flag. Needs the vendor. Always 1.
int CpuCount();

// Name of an Intel processor without brand string, from its brand index;
// nullptr for the indexes named by family, model and stepping.
const char *brandIndexName(uint8_t index);
// L2 size in KB of a leaf-2 descriptor byte, 0 when it names no L2 cache.
uint16_t l2DescriptorSize(uint8_t descriptor);

} // namespace sysinfo

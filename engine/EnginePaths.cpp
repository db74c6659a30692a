#include "engine/EnginePaths.h"

#include <cpuid.h>
#include <cstdint>

namespace {

// XCR0: which register states the OS saves on a context switch.
uint64_t readXcr0() {
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (uint64_t(hi) << 32) | lo;
}

constexpr uint64_t XCR0_SSE_AVX = 0x6; // XMM and upper YMM halves
constexpr uint64_t XCR0_AVX512 = 0xE0; // opmask, ZMM0-15 upper, ZMM16-31

} // namespace

unsigned availablePaths() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
    return 0;
  unsigned paths = 0;
  if (edx & bit_SSE2)
    paths |= 1u << PATH_SSE2;
  bool osxsave = ecx & bit_OSXSAVE;
  bool avx = ecx & bit_AVX, fma = ecx & bit_FMA;
  uint64_t xcr0 = osxsave ? readXcr0() : 0;
  if (!avx || (xcr0 & XCR0_SSE_AVX) != XCR0_SSE_AVX)
    return paths;
  paths |= 1u << PATH_AVX;
  unsigned maxLeaf = __get_cpuid_max(0, nullptr);
  if (maxLeaf < 7)
    return paths;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  if ((ebx & bit_AVX2) && fma)
    paths |= 1u << PATH_AVX2_FMA;
  if ((ebx & bit_AVX512F) && (xcr0 & XCR0_AVX512) == XCR0_AVX512)
    paths |= 1u << PATH_AVX512;
  return paths;
}

const char *pathName(int path) {
  static const char *const names[PATH_COUNT] = {"SSE2", "AVX", "AVX2+FMA",
                                                "AVX-512F"};
  return path >= 0 && path < PATH_COUNT ? names[path] : "?";
}

bool pathFuses(int path) {
  return path == PATH_AVX2_FMA || path == PATH_AVX512;
}

TileKernel tileKernel(int path) {
  switch (path) {
  case PATH_AVX:
    return avxTile();
  case PATH_AVX2_FMA:
    return avx2FmaTile();
  case PATH_AVX512:
    return avx512Tile();
  default:
    return sse2Tile();
  }
}

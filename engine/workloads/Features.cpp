#include "engine/workloads/Features.h"

#include <cpuid.h>
#include <cstdint>

namespace {

uint64_t readXcr0() {
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (uint64_t(hi) << 32) | lo;
}

CpuFeatures detect() {
  CpuFeatures f;
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d))
    return f;
  f.ssse3 = c & bit_SSSE3;
  f.sse41 = c & bit_SSE4_1;
  f.sse42 = c & bit_SSE4_2;
  f.popcnt = c & bit_POPCNT;
  f.aes = c & bit_AES;
  f.pclmul = c & bit_PCLMUL;
  uint64_t xcr0 = (c & bit_OSXSAVE) ? readXcr0() : 0;
  bool osYmm = (xcr0 & 0x6) == 0x6, osZmm = (xcr0 & 0xE6) == 0xE6;
  f.avx = (c & bit_AVX) && osYmm;
  if (__get_cpuid_max(0, nullptr) < 7)
    return f;
  __cpuid_count(7, 0, a, b, c, d);
  f.bmi1 = b & bit_BMI;
  f.bmi2 = b & bit_BMI2;
  f.sha = b & bit_SHA;
  f.avx2 = f.avx && (b & bit_AVX2);
  f.avx512f = osZmm && (b & bit_AVX512F);
  f.avx512bw = f.avx512f && (b & bit_AVX512BW);
  f.vaes = f.avx && (c & bit_VAES);
  f.vpclmul = f.avx && (c & bit_VPCLMULQDQ);
  return f;
}

// Leaf 4 on Intel, 0x8000001D on AMD: the same layout, one sub-leaf per
// cache, the highest level last.
long shareFromLeaf(unsigned leaf) {
  long best = 0;
  int bestLevel = 0;
  for (unsigned sub = 0; sub < 16; ++sub) {
    unsigned a, b, c, d;
    __cpuid_count(leaf, sub, a, b, c, d);
    if ((a & 0x1F) == 0)
      break;
    int level = (a >> 5) & 7;
    long ways = ((b >> 22) & 0x3FF) + 1, partitions = ((b >> 12) & 0x3FF) + 1;
    long line = (b & 0xFFF) + 1, sets = long(c) + 1;
    long sharing = ((a >> 14) & 0xFFF) + 1;
    if (level >= bestLevel) {
      bestLevel = level;
      best = ways * partitions * line * sets / sharing;
    }
  }
  return bestLevel >= 2 ? best : 0;
}

} // namespace

const CpuFeatures &cpuFeatures() {
  static const CpuFeatures features = detect();
  return features;
}

long lastLevelCacheShare() {
  unsigned maxLeaf = __get_cpuid_max(0, nullptr);
  unsigned maxExtended = __get_cpuid_max(0x80000000, nullptr);
  unsigned a, b, c, d;
  __cpuid(0, a, b, c, d);
  bool amd = b == 0x68747541; // "Auth"enticAMD
  if (amd && maxExtended >= 0x8000001D)
    return shareFromLeaf(0x8000001D);
  return maxLeaf >= 4 ? shareFromLeaf(4) : 0;
}

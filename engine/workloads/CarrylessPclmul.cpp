// Compiled with -mpclmul -msse2.
#include "engine/workloads/Carryless.h"

#include <immintrin.h>

void carrylessPclmul(const CarrylessJob &job) {
  for (long g = 0; g < job.pairs; g += 8) {
    __m128i *out = (__m128i *)(job.out + 2 * g);
#pragma GCC unroll 4
    for (int lane = 0; lane < 4; ++lane) {
      __m128i a = _mm_load_si128((const __m128i *)(job.a + g + 2 * lane));
      __m128i b = _mm_load_si128((const __m128i *)(job.b + g + 2 * lane));
      _mm_store_si128(out + lane, _mm_clmulepi64_si128(a, b, 0x00));
      _mm_store_si128(out + 4 + lane, _mm_clmulepi64_si128(a, b, 0x11));
    }
  }
}

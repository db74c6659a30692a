// Compiled with -mvpclmulqdq -mavx512f.
#include "engine/workloads/Carryless.h"

#include <immintrin.h>

void carrylessVpclmul(const CarrylessJob &job) {
  for (long g = 0; g < job.pairs; g += 8) {
    __m512i a = _mm512_load_si512(job.a + g), b = _mm512_load_si512(job.b + g);
    _mm512_store_si512(job.out + 2 * g, _mm512_clmulepi64_epi128(a, b, 0x00));
    _mm512_store_si512(job.out + 2 * g + 8,
                       _mm512_clmulepi64_epi128(a, b, 0x11));
  }
}

// Compiled with -msha -msse4.1.
#include "engine/workloads/Sha256.h"

#include <immintrin.h>

// Four rounds per group g, two per SHA256RNDS2; the message schedule in
// four vectors of four words, each one made from the others by SHA256MSG1
// and SHA256MSG2 twelve groups before it is used.
void sha256Ni(uint32_t state[8], const uint8_t *data, long blocks) {
  const __m128i order =
      _mm_set_epi64x(0x0c0d0e0f08090a0bll, 0x0405060700010203ll);
  __m128i t = _mm_loadu_si128((const __m128i *)state);
  __m128i s1 = _mm_loadu_si128((const __m128i *)(state + 4));
  t = _mm_shuffle_epi32(t, 0xB1);         // CDAB
  s1 = _mm_shuffle_epi32(s1, 0x1B);       // EFGH
  __m128i s0 = _mm_alignr_epi8(t, s1, 8); // ABEF
  s1 = _mm_blend_epi16(s1, t, 0xF0);      // CDGH
  for (long b = 0; b < blocks; ++b, data += 64) {
    __m128i abef = s0, cdgh = s1, m[4];
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      __m128i &cur = m[g % 4];
      if (g < 4)
        cur = _mm_shuffle_epi8(
            _mm_loadu_si128((const __m128i *)(data + 16 * g)), order);
      __m128i msg = _mm_add_epi32(
          cur, _mm_loadu_si128((const __m128i *)(SHA256_K + 4 * g)));
      s1 = _mm_sha256rnds2_epu32(s1, s0, msg);
      if (g >= 3 && g <= 14) {
        __m128i &next = m[(g + 1) % 4];
        next = _mm_add_epi32(next, _mm_alignr_epi8(cur, m[(g + 3) % 4], 4));
        next = _mm_sha256msg2_epu32(next, cur);
      }
      s0 = _mm_sha256rnds2_epu32(s0, s1, _mm_shuffle_epi32(msg, 0x0E));
      if (g >= 1 && g <= 12)
        m[(g + 3) % 4] = _mm_sha256msg1_epu32(m[(g + 3) % 4], cur);
    }
    s0 = _mm_add_epi32(s0, abef);
    s1 = _mm_add_epi32(s1, cdgh);
  }
  t = _mm_shuffle_epi32(s0, 0x1B);   // FEBA
  s1 = _mm_shuffle_epi32(s1, 0xB1);  // DCHG
  s0 = _mm_blend_epi16(t, s1, 0xF0); // DCBA
  s1 = _mm_alignr_epi8(s1, t, 8);    // HGFE
  _mm_storeu_si128((__m128i *)state, s0);
  _mm_storeu_si128((__m128i *)(state + 4), s1);
}

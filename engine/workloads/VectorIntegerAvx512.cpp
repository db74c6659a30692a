// Compiled with -mavx512bw.
#include "engine/workloads/VectorIntegerKernel.h"

namespace {

struct Avx512 {
  using T = __m512i;
  static T load(const uint8_t *p) { return _mm512_load_si512(p); }
  static void store(uint8_t *p, T v) { _mm512_store_si512(p, v); }
  static T broadcast(const uint8_t *p) {
    return _mm512_broadcast_i32x4(_mm_load_si128((const __m128i *)p));
  }
  static T maddubs(T a, T b) { return _mm512_maddubs_epi16(a, b); }
  static T madd(T a, T b) { return _mm512_madd_epi16(a, b); }
  static T sad(T a, T b) { return _mm512_sad_epu8(a, b); }
  static T mullo32(T a, T b) { return _mm512_mullo_epi32(a, b); }
  static T add32(T a, T b) { return _mm512_add_epi32(a, b); }
  static T mulEven(T a, T b) { return _mm512_mul_epu32(a, b); }
  static T xorBits(T a, T b) { return _mm512_xor_si512(a, b); }
  static T shuffle(T a, T c) { return _mm512_shuffle_epi8(a, c); }
  static T rotate(T a) {
    return _mm512_permutexvar_epi32(
        _mm512_setr_epi32(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0),
        a);
  }
};

} // namespace

void vectorIntegerAvx512(const VectorIntegerJob &job) {
  vectorIntegerKernel<Avx512>(job);
}

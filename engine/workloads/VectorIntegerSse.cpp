// Compiled with -mssse3 -msse4.1.
#include "engine/workloads/VectorIntegerKernel.h"

namespace {

struct Sse {
  using T = __m128i;
  static T load(const uint8_t *p) { return _mm_load_si128((const T *)p); }
  static void store(uint8_t *p, T v) { _mm_store_si128((T *)p, v); }
  static T broadcast(const uint8_t *p) { return load(p); }
  static T maddubs(T a, T b) { return _mm_maddubs_epi16(a, b); }
  static T madd(T a, T b) { return _mm_madd_epi16(a, b); }
  static T sad(T a, T b) { return _mm_sad_epu8(a, b); }
  static T mullo32(T a, T b) { return _mm_mullo_epi32(a, b); }
  static T add32(T a, T b) { return _mm_add_epi32(a, b); }
  static T mulEven(T a, T b) { return _mm_mul_epu32(a, b); }
  static T xorBits(T a, T b) { return _mm_xor_si128(a, b); }
  static T shuffle(T a, T c) { return _mm_shuffle_epi8(a, c); }
  static T rotate(T a) { return _mm_shuffle_epi32(a, _MM_SHUFFLE(0, 3, 2, 1)); }
};

} // namespace

void vectorIntegerSse(const VectorIntegerJob &job) {
  vectorIntegerKernel<Sse>(job);
}

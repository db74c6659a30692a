// Compiled with -mavx2.
#include "engine/workloads/VectorIntegerKernel.h"

namespace {

struct Avx2 {
  using T = __m256i;
  static T load(const uint8_t *p) { return _mm256_load_si256((const T *)p); }
  static void store(uint8_t *p, T v) { _mm256_store_si256((T *)p, v); }
  static T broadcast(const uint8_t *p) {
    return _mm256_broadcastsi128_si256(_mm_load_si128((const __m128i *)p));
  }
  static T maddubs(T a, T b) { return _mm256_maddubs_epi16(a, b); }
  static T madd(T a, T b) { return _mm256_madd_epi16(a, b); }
  static T sad(T a, T b) { return _mm256_sad_epu8(a, b); }
  static T mullo32(T a, T b) { return _mm256_mullo_epi32(a, b); }
  static T add32(T a, T b) { return _mm256_add_epi32(a, b); }
  static T mulEven(T a, T b) { return _mm256_mul_epu32(a, b); }
  static T xorBits(T a, T b) { return _mm256_xor_si256(a, b); }
  static T shuffle(T a, T c) { return _mm256_shuffle_epi8(a, c); }
  static T rotate(T a) {
    return _mm256_permutevar8x32_epi32(
        a, _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 0));
  }
};

} // namespace

void vectorIntegerAvx2(const VectorIntegerJob &job) {
  vectorIntegerKernel<Avx2>(job);
}

// Compiled with -maes -msse4.1.
#include "engine/workloads/AesKernel.h"

namespace {

struct Ni {
  using T = __m128i;
  static T load(const uint8_t *p) { return _mm_load_si128((const T *)p); }
  static void store(uint8_t *p, T v) { _mm_store_si128((T *)p, v); }
  static T broadcast(__m128i k) { return k; }
  static T xorBits(T a, T b) { return _mm_xor_si128(a, b); }
  static T enc(T a, T k) { return _mm_aesenc_si128(a, k); }
  static T encLast(T a, T k) { return _mm_aesenclast_si128(a, k); }
  static T dec(T a, T k) { return _mm_aesdec_si128(a, k); }
  static T decLast(T a, T k) { return _mm_aesdeclast_si128(a, k); }
};

} // namespace

void aesNi(const AesJob &job) { aesKernel<Ni>(job); }

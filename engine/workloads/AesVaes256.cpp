// Compiled with -mvaes -mavx2 -maes.
#include "engine/workloads/AesKernel.h"

namespace {

struct Vaes256 {
  using T = __m256i;
  static T load(const uint8_t *p) { return _mm256_load_si256((const T *)p); }
  static void store(uint8_t *p, T v) { _mm256_store_si256((T *)p, v); }
  static T broadcast(__m128i k) { return _mm256_broadcastsi128_si256(k); }
  static T xorBits(T a, T b) { return _mm256_xor_si256(a, b); }
  static T enc(T a, T k) { return _mm256_aesenc_epi128(a, k); }
  static T encLast(T a, T k) { return _mm256_aesenclast_epi128(a, k); }
  static T dec(T a, T k) { return _mm256_aesdec_epi128(a, k); }
  static T decLast(T a, T k) { return _mm256_aesdeclast_epi128(a, k); }
};

} // namespace

void aesVaes256(const AesJob &job) { aesKernel<Vaes256>(job); }

// Compiled with -mvaes -mavx512f -maes.
#include "engine/workloads/AesKernel.h"

namespace {

struct Vaes512 {
  using T = __m512i;
  static T load(const uint8_t *p) { return _mm512_load_si512(p); }
  static void store(uint8_t *p, T v) { _mm512_store_si512(p, v); }
  static T broadcast(__m128i k) { return _mm512_broadcast_i32x4(k); }
  static T xorBits(T a, T b) { return _mm512_xor_si512(a, b); }
  static T enc(T a, T k) { return _mm512_aesenc_epi128(a, k); }
  static T encLast(T a, T k) { return _mm512_aesenclast_epi128(a, k); }
  static T dec(T a, T k) { return _mm512_aesdec_epi128(a, k); }
  static T decLast(T a, T k) { return _mm512_aesdeclast_epi128(a, k); }
};

} // namespace

void aesVaes512(const AesJob &job) { aesKernel<Vaes512>(job); }

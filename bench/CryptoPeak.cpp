// Compiled with -maes -mvaes -mavx512f -msha.
#include "CryptoPeak.h"

#include <chrono>
#include <cstdint>
#include <immintrin.h>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

template <typename T, T (*ENC)(T, T)>
double aesLoop(T key, double seconds, T *sink) {
  constexpr int FLIGHT = 16;
  T x[FLIGHT];
  for (int j = 0; j < FLIGHT; ++j)
    x[j] = key;
  long rounds = 0;
  auto start = Clock::now();
  do {
    for (int r = 0; r < 1000; ++r)
#pragma GCC unroll 16
      for (int j = 0; j < FLIGHT; ++j)
        x[j] = ENC(x[j], key);
    rounds += 1000;
  } while (secondsSince(start) < seconds);
  double elapsed = secondsSince(start);
  for (int j = 0; j < FLIGHT; ++j)
    *sink = ENC(*sink, x[j]);
  // Ten rounds a block.
  return double(rounds) * FLIGHT * sizeof(T) / 10 / elapsed;
}

__m128i enc128(__m128i a, __m128i k) { return _mm_aesenc_si128(a, k); }
__m256i enc256(__m256i a, __m256i k) { return _mm256_aesenc_epi128(a, k); }
__m512i enc512(__m512i a, __m512i k) { return _mm512_aesenc_epi128(a, k); }

} // namespace

double aesPeakBytesPerSecond(int width, double seconds) {
  if (width == 1) {
    static __m128i sink;
    return aesLoop<__m128i, enc128>(_mm_set1_epi32(0x1234567), seconds, &sink);
  }
  if (width == 2) {
    static __m256i sink;
    return aesLoop<__m256i, enc256>(_mm256_set1_epi32(0x1234567), seconds,
                                    &sink);
  }
  static __m512i sink;
  return aesLoop<__m512i, enc512>(_mm512_set1_epi32(0x1234567), seconds, &sink);
}

double shaPeakBytesPerSecond(double seconds) {
  __m128i a0 = _mm_set1_epi32(1), b0 = _mm_set1_epi32(2);
  __m128i a1 = _mm_set1_epi32(3), b1 = _mm_set1_epi32(4);
  __m128i m0 = _mm_set1_epi32(5), m1 = _mm_set1_epi32(6);
  __m128i m2 = _mm_set1_epi32(7), m3 = _mm_set1_epi32(8);
  long groups = 0;
  auto start = Clock::now();
  do {
    for (int g = 0; g < 1000; ++g) {
      // Four rounds per state, and the schedule's share of a group.
      b0 = _mm_sha256rnds2_epu32(b0, a0, m0);
      b1 = _mm_sha256rnds2_epu32(b1, a1, m1);
      a0 = _mm_sha256rnds2_epu32(a0, b0, _mm_shuffle_epi32(m0, 0x0E));
      a1 = _mm_sha256rnds2_epu32(a1, b1, _mm_shuffle_epi32(m1, 0x0E));
      m0 = _mm_sha256msg2_epu32(_mm_sha256msg1_epu32(m0, m2), m2);
      m1 = _mm_sha256msg2_epu32(_mm_sha256msg1_epu32(m1, m3), m3);
      std::swap(m0, m2);
      std::swap(m1, m3);
    }
    groups += 1000;
  } while (secondsSince(start) < seconds);
  double elapsed = secondsSince(start);
  volatile int sink = _mm_cvtsi128_si32(
      _mm_add_epi32(_mm_add_epi32(a0, b0), _mm_add_epi32(a1, b1)));
  (void)sink;
  // Sixteen groups of four rounds compress 64 bytes; two states.
  return double(groups) * 2 * 64 / 16 / elapsed;
}

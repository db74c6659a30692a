// Compiled with -mbmi -mbmi2 -mpopcnt -msse4.2.
#include "engine/workloads/ScalarInteger.h"

#include <immintrin.h>

void scalarIntegerBmi(const ScalarIntegerJob &job) {
  uint64_t *out = job.out;
  for (int p = 0; p < PRODUCTS; ++p, out += 2 * LIMBS) {
    const uint64_t *a = job.a + p * LIMBS, *b = job.b + p * LIMBS;
    uint64_t r[2 * LIMBS] = {};
    for (int i = 0; i < LIMBS; ++i) {
      // Row i: the low halves added at i + j, the high halves at i + j + 1,
      // each in its own carry chain.
      unsigned char cLow = 0, cHigh = 0;
      for (int j = 0; j < LIMBS; ++j) {
        unsigned long long hi, lo = _mulx_u64(a[i], b[j], &hi);
        cLow =
            _addcarry_u64(cLow, r[i + j], lo, (unsigned long long *)&r[i + j]);
        cHigh = _addcarry_u64(cHigh, r[i + j + 1], hi,
                              (unsigned long long *)&r[i + j + 1]);
      }
      // The sum so far fits in words 0 to i + LIMBS: the high chain ends
      // without a carry, and the low chain's last one cannot overflow.
      r[i + LIMBS] += cLow;
    }
    for (int k = 0; k < 2 * LIMBS; ++k)
      out[k] = r[k];
  }
  for (int d = 0; d < DIVISIONS; ++d, out += 2)
    divide128(job.high[d], job.low[d], job.divisor[d], out, out + 1);
  for (int i = 0; i < BIT_WORDS; ++i, out += 6) {
    uint64_t w = job.bits[i];
    out[0] = uint64_t(_mm_popcnt_u64(w));
    out[1] = w ? uint64_t(__builtin_clzll(w)) : 64;
    out[2] = _tzcnt_u64(w);
    out[3] = _pdep_u64(w, job.masks[i]);
    out[4] = _pext_u64(w, job.masks[i]);
    out[5] = __builtin_bswap64(w);
  }
  uint64_t crc = ~0ull;
  for (int i = 0; i < CRC_WORDS; ++i)
    crc = _mm_crc32_u64(crc, job.crcData[i]);
  out[0] = ~uint32_t(crc);
}

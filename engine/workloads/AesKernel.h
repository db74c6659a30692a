#pragma once

// The AES unit written once over a vector type V of whole 16-byte blocks;
// each instruction-set level's file includes it with its own V.

#include "engine/workloads/Aes.h"

#include <immintrin.h>

namespace {

constexpr int AES_IN_FLIGHT = 8; // the AES units' latency times their number

template <typename V, bool DECRYPT>
void aesPass(const __m128i *keys, const uint8_t *in, uint8_t *out,
             long blocks) {
  using T = typename V::T;
  constexpr long PER = sizeof(T) / 16;
  T k[11];
  for (int r = 0; r < 11; ++r)
    k[r] = V::broadcast(keys[r]);
  for (long b = 0; b < blocks; b += PER * AES_IN_FLIGHT) {
    T x[AES_IN_FLIGHT];
#pragma GCC unroll 8
    for (int j = 0; j < AES_IN_FLIGHT; ++j)
      x[j] = V::xorBits(V::load(in + (b + j * PER) * 16), k[0]);
    for (int r = 1; r < 10; ++r)
#pragma GCC unroll 8
      for (int j = 0; j < AES_IN_FLIGHT; ++j)
        x[j] = DECRYPT ? V::dec(x[j], k[r]) : V::enc(x[j], k[r]);
#pragma GCC unroll 8
    for (int j = 0; j < AES_IN_FLIGHT; ++j)
      V::store(out + (b + j * PER) * 16,
               DECRYPT ? V::decLast(x[j], k[10]) : V::encLast(x[j], k[10]));
  }
}

// Encrypts (unless told not to), then decrypts the encryption with the
// equivalent inverse schedule (round keys in reverse, the middle ones through
// InvMixColumns).
template <typename V> void aesKernel(const AesJob &job) {
  __m128i enc[11], dec[11];
  for (int r = 0; r < 11; ++r)
    enc[r] = _mm_loadu_si128((const __m128i *)(job.roundKeys + 16 * r));
  dec[0] = enc[10], dec[10] = enc[0];
  for (int r = 1; r < 10; ++r)
    dec[r] = _mm_aesimc_si128(enc[10 - r]);
  if (!job.decryptOnly)
    aesPass<V, false>(enc, job.in, job.encrypted, job.blocks);
  aesPass<V, true>(dec, job.encrypted, job.decrypted, job.blocks);
}

} // namespace

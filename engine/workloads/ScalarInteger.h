#pragma once

// The scalar-integer workload's unit: the big-number arithmetic of
// cryptography (512 x 512-bit products from 64 x 64 -> 128-bit multiplies
// and carry chains), 128 / 64-bit divisions, and the bit instructions
// (population count, leading and trailing zeros, bit deposit and extract,
// byte swap, CRC32C). Its results, in this order, are compared word for
// word with answers computed by other means.

#include <cstdint>

constexpr int LIMBS = 8;      // 512-bit operands
constexpr int PRODUCTS = 16;  // pairs of them
constexpr int DIVISIONS = 64; // 128 / 64-bit, quotient fitting 64 bits
constexpr int BIT_WORDS = 256;
constexpr int CRC_WORDS = 512; // 4 KB through CRC32C
constexpr long SCALAR_RESULT_WORDS =
    PRODUCTS * 2 * LIMBS + 2 * DIVISIONS + 6 * BIT_WORDS + 1;

struct ScalarIntegerJob {
  const uint64_t *a, *b;                // PRODUCTS x LIMBS each
  const uint64_t *high, *low, *divisor; // DIVISIONS each, high < divisor
  const uint64_t *bits, *masks;         // BIT_WORDS each
  const uint64_t *crcData;              // CRC_WORDS
  uint64_t *out;                        // SCALAR_RESULT_WORDS
};

void scalarIntegerPlain(const ScalarIntegerJob &job);
// BMI1, BMI2, POPCNT and SSE4.2's CRC32.
void scalarIntegerBmi(const ScalarIntegerJob &job);

// The processor's 128 / 64-bit divide: high must be below d.
inline void divide128(uint64_t high, uint64_t low, uint64_t d, uint64_t *q,
                      uint64_t *r) {
  __asm__("divq %4" : "=a"(*q), "=d"(*r) : "a"(low), "d"(high), "rm"(d));
}

#pragma once

// The carry-less multiply workload's unit: 64 x 64 -> 128-bit products over
// GF(2)[x] of pairs of words. Pairs come in groups of eight (a[8g .. 8g+7]
// times b[8g .. 8g+7]); a group's products are stored as 16-byte values,
// those of its even pairs first, then those of its odd pairs.

#include <cstdint>

struct CarrylessJob {
  const uint64_t *a, *b;
  uint64_t *out; // two words per product
  long pairs;    // a multiple of 8
};

void carrylessPlain(const CarrylessJob &job);
void carrylessPclmul(const CarrylessJob &job);
void carrylessVpclmul(const CarrylessJob &job);

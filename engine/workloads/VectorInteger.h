#pragma once

// The vector-integer workload's unit: the instruction mix of video and image
// codecs on 16-byte blocks, each block a pair (x, y) taken through `rounds`
// rounds of
//   t = x (unsigned bytes) . k1 (signed bytes), pairwise, saturated to 16 bits
//   u = t . y, pairwise 16 x 16 -> 32-bit multiply-adds
//   s = sums of absolute differences of x and y, per 8 bytes
//   v = u * k2 (32-bit lanes, low halves) + s
//   w = v * k3 on the even 32-bit lanes, 64-bit products
//   x = rotate(shuffle(x ^ w, ctl)), y = y + v (32-bit lanes)
// where rotate moves every 32-bit word of the whole vector one place down:
// a cross-lane permute whose result depends on the vector's width, so each
// level has its own answers.

#include <cstdint>

struct VectorIntegerJob {
  const uint8_t *x, *y; // blocks in
  uint8_t *outX, *outY; // blocks out
  long blocks;          // a multiple of 16
  int rounds;
  // 16 bytes each, the same in every block: k1 signed bytes, ctl a byte
  // permutation, k2 and k3 four 32-bit words.
  const uint8_t *k1, *ctl, *k2, *k3;
};

// Each level's unit, in the file compiled for its instructions.
void vectorIntegerSse(const VectorIntegerJob &job);
void vectorIntegerAvx2(const VectorIntegerJob &job);
void vectorIntegerAvx512(const VectorIntegerJob &job);

// Lane results per block and round: 8 multiply-add pairs, 4 more, 2 sums of
// differences, 4 multiplies, 4 adds, 2 wide multiplies, 16 shuffled bytes, 4
// adds.
constexpr uint64_t VECTOR_INTEGER_OPS_PER_ROUND = 44;

#pragma once

// The vector-integer unit written once over a vector type V (one 128-bit
// lane per block); each level's file includes it with its own V, compiled
// for its instructions. Internal linkage keeps the copies apart.

#include "engine/workloads/VectorInteger.h"

#include <immintrin.h>

namespace {

// Four vectors in flight: one round's chain is about 20 cycles long.
constexpr int IN_FLIGHT = 4;

template <typename V> void vectorIntegerKernel(const VectorIntegerJob &job) {
  using T = typename V::T;
  constexpr long BLOCKS = sizeof(T) / 16;
  const T k1 = V::broadcast(job.k1), ctl = V::broadcast(job.ctl),
          k2 = V::broadcast(job.k2), k3 = V::broadcast(job.k3);
  for (long b = 0; b < job.blocks; b += BLOCKS * IN_FLIGHT) {
    T x[IN_FLIGHT], y[IN_FLIGHT];
#pragma GCC unroll 4
    for (int j = 0; j < IN_FLIGHT; ++j) {
      x[j] = V::load(job.x + (b + j * BLOCKS) * 16);
      y[j] = V::load(job.y + (b + j * BLOCKS) * 16);
    }
    for (int r = 0; r < job.rounds; ++r) {
#pragma GCC unroll 4
      for (int j = 0; j < IN_FLIGHT; ++j) {
        T t = V::maddubs(x[j], k1);
        T u = V::madd(t, y[j]);
        T s = V::sad(x[j], y[j]);
        T v = V::add32(V::mullo32(u, k2), s);
        T w = V::mulEven(v, k3);
        x[j] = V::rotate(V::shuffle(V::xorBits(x[j], w), ctl));
        y[j] = V::add32(y[j], v);
      }
    }
#pragma GCC unroll 4
    for (int j = 0; j < IN_FLIGHT; ++j) {
      V::store(job.outX + (b + j * BLOCKS) * 16, x[j]);
      V::store(job.outY + (b + j * BLOCKS) * 16, y[j]);
    }
  }
}

} // namespace

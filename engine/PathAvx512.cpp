// Compiled with -mavx512f: runs only when availablePaths() has PATH_AVX512.
#include "engine/EnginePaths.h"

#include <immintrin.h>

namespace {

// Lane reductions by hand: the compiler's own reduce intrinsics warn.
unsigned long long laneSum(__m512i v) {
  alignas(64) unsigned long long lanes[8];
  _mm512_store_si512(lanes, v);
  unsigned long long s = 0;
  for (unsigned long long lane : lanes)
    s += lane;
  return s;
}

unsigned long long laneOr(__m512i v) {
  alignas(64) unsigned long long lanes[8];
  _mm512_store_si512(lanes, v);
  unsigned long long s = 0;
  for (unsigned long long lane : lanes)
    s |= lane;
  return s;
}

// 24 x 8 register tile: 24 accumulators, 3 column vectors of A, one
// broadcast of B, and the running operand sums: 31 of the 32 registers.
// The operand sums add the words as loaded, so the values checked are the
// values multiplied.
template <bool SUM_A, bool SUM_B> void tileLoop(const TileJob &t) {
  const long ldc = t.ldc;
  __m512d acc[3][TILE_COLS];
  for (int j = 0; j < TILE_COLS; ++j)
    for (int i = 0; i < 3; ++i)
      acc[i][j] = t.accumulate ? _mm512_loadu_pd(t.c + i * 8 + j * ldc)
                               : _mm512_loadu_pd(t.bias + i * 8);
  __m512i sumA = _mm512_setzero_si512(), sumB = _mm512_setzero_si512();
  const double *ap = t.a, *bp = t.b;
#pragma GCC unroll 4
  for (long p = 0; p < t.k; ++p, ap += TILE_ROWS, bp += TILE_COLS) {
    __m512d a0 = _mm512_load_pd(ap);
    __m512d a1 = _mm512_load_pd(ap + 8);
    __m512d a2 = _mm512_load_pd(ap + 16);
    if (SUM_A) {
      sumA = _mm512_add_epi64(sumA, _mm512_castpd_si512(a0));
      sumA = _mm512_add_epi64(sumA, _mm512_castpd_si512(a1));
      sumA = _mm512_add_epi64(sumA, _mm512_castpd_si512(a2));
    }
    if (SUM_B)
      sumB = _mm512_add_epi64(sumB, _mm512_castpd_si512(_mm512_load_pd(bp)));
    for (int j = 0; j < TILE_COLS; ++j) {
      __m512d bj = _mm512_set1_pd(bp[j]);
      acc[0][j] = _mm512_fmadd_pd(a0, bj, acc[0][j]);
      acc[1][j] = _mm512_fmadd_pd(a1, bj, acc[1][j]);
      acc[2][j] = _mm512_fmadd_pd(a2, bj, acc[2][j]);
    }
  }
  __m512i diff = _mm512_setzero_si512();
  for (int j = 0; j < TILE_COLS; ++j)
    for (int i = 0; i < 3; ++i) {
      _mm512_storeu_pd(t.c + i * 8 + j * ldc, acc[i][j]);
      if (t.ref)
        diff = _mm512_or_si512(
            diff,
            _mm512_xor_si512(_mm512_castpd_si512(acc[i][j]),
                             _mm512_loadu_si512(t.ref + i * 8 + j * ldc)));
    }
  if (SUM_A)
    *t.sumA += laneSum(sumA);
  if (SUM_B)
    *t.sumB += laneSum(sumB);
  if (t.ref)
    *t.diff |= laneOr(diff);
}

void tile(const TileJob &t) {
  if (t.sumA && t.sumB)
    tileLoop<true, true>(t);
  else if (t.sumA)
    tileLoop<true, false>(t);
  else if (t.sumB)
    tileLoop<false, true>(t);
  else
    tileLoop<false, false>(t);
}

} // namespace

TileKernel avx512Tile() { return tile; }

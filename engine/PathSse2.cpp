// The x86-64 baseline: always available.
#include "engine/PathChecks.h"

#include <emmintrin.h>

namespace {

// 4 x 4 register tile, multiply then add; the 24 x 8 tile is twelve of them.
void subTile(long k, const double *a, const double *b, const double *bias,
             double *c, long ldc, bool accumulate) {
  __m128d acc[2][4];
  // Separate loops rather than a choice per element: GCC then keeps the
  // accumulators in registers.
  if (accumulate)
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 2; ++i)
        acc[i][j] = _mm_loadu_pd(c + i * 2 + j * ldc);
  else
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 2; ++i)
        acc[i][j] = _mm_loadu_pd(bias + i * 2);
#pragma GCC unroll 4
  for (long p = 0; p < k; ++p) {
    const double *ap = a + p * TILE_ROWS;
    const double *bp = b + p * TILE_COLS;
    __m128d a0 = _mm_load_pd(ap);
    __m128d a1 = _mm_load_pd(ap + 2);
    for (int j = 0; j < 4; ++j) {
      __m128d bj = _mm_load1_pd(bp + j);
      acc[0][j] = _mm_add_pd(acc[0][j], _mm_mul_pd(a0, bj));
      acc[1][j] = _mm_add_pd(acc[1][j], _mm_mul_pd(a1, bj));
    }
  }
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 2; ++i)
      _mm_storeu_pd(c + i * 2 + j * ldc, acc[i][j]);
}

void tile(const TileJob &t) { chunkedTile<4, 4>(t, subTile); }

} // namespace

TileKernel sse2Tile() { return tile; }

// Compiled with -mavx: runs only when availablePaths() has PATH_AVX.
#include "engine/PathChecks.h"

#include <immintrin.h>

namespace {

// 8 x 4 register tile, multiply then add (AVX has no fused form); the
// 24 x 8 tile is six of them.
void subTile(long k, const double *a, const double *b, const double *bias,
             double *c, long ldc, bool accumulate) {
  __m256d acc[2][4];
  // Separate loops rather than a choice per element: GCC then keeps the
  // accumulators in registers.
  if (accumulate)
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 2; ++i)
        acc[i][j] = _mm256_loadu_pd(c + i * 4 + j * ldc);
  else
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 2; ++i)
        acc[i][j] = _mm256_loadu_pd(bias + i * 4);
#pragma GCC unroll 4
  for (long p = 0; p < k; ++p) {
    const double *ap = a + p * TILE_ROWS;
    const double *bp = b + p * TILE_COLS;
    __m256d a0 = _mm256_load_pd(ap);
    __m256d a1 = _mm256_load_pd(ap + 4);
    for (int j = 0; j < 4; ++j) {
      __m256d bj = _mm256_broadcast_sd(bp + j);
      acc[0][j] = _mm256_add_pd(acc[0][j], _mm256_mul_pd(a0, bj));
      acc[1][j] = _mm256_add_pd(acc[1][j], _mm256_mul_pd(a1, bj));
    }
  }
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 2; ++i)
      _mm256_storeu_pd(c + i * 4 + j * ldc, acc[i][j]);
}

void tile(const TileJob &t) { chunkedTile<8, 4>(t, subTile); }

} // namespace

TileKernel avxTile() { return tile; }

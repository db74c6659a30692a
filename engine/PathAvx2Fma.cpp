// Compiled with -mavx2 -mfma: runs only when availablePaths() has
// PATH_AVX2_FMA.
#include "engine/PathChecks.h"

#include <immintrin.h>

namespace {

// 12 x 4 register tile (12 accumulators, 3 vectors of A, 1 broadcast fill
// the 16 registers); the 24 x 8 tile is four of them.
void subTile(long k, const double *a, const double *b, const double *bias,
             double *c, long ldc, bool accumulate) {
  __m256d acc[3][4];
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 3; ++i)
      acc[i][j] = accumulate ? _mm256_loadu_pd(c + i * 4 + j * ldc)
                             : _mm256_loadu_pd(bias + i * 4);
#pragma GCC unroll 4
  for (long p = 0; p < k; ++p) {
    const double *ap = a + p * TILE_ROWS;
    const double *bp = b + p * TILE_COLS;
    __m256d a0 = _mm256_load_pd(ap);
    __m256d a1 = _mm256_load_pd(ap + 4);
    __m256d a2 = _mm256_load_pd(ap + 8);
    for (int j = 0; j < 4; ++j) {
      __m256d bj = _mm256_broadcast_sd(bp + j);
      acc[0][j] = _mm256_fmadd_pd(a0, bj, acc[0][j]);
      acc[1][j] = _mm256_fmadd_pd(a1, bj, acc[1][j]);
      acc[2][j] = _mm256_fmadd_pd(a2, bj, acc[2][j]);
    }
  }
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 3; ++i)
      _mm256_storeu_pd(c + i * 4 + j * ldc, acc[i][j]);
}

void tile(const TileJob &t) {
  for (int j = 0; j < TILE_COLS; j += 4)
    for (int i = 0; i < TILE_ROWS; i += 12)
      subTile(t.k, t.a + i, t.b + j, t.bias + i, t.c + i + j * t.ldc, t.ldc,
              t.accumulate);
  checkBeside(t);
}

} // namespace

TileKernel avx2FmaTile() { return tile; }

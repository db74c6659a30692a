// Compiled with -mavx2 -mfma: runs only when availablePaths() has
// PATH_AVX2_FMA.
#include "engine/PathChecks.h"

#include <immintrin.h>

namespace {

// 8 x 4 register tile: 8 accumulators (enough to cover the FMA latency on
// two pipes), the broadcasts of B and one vector of A; GCC spills a 12 x 4
// tile. The 24 x 8 tile is six of them.
// Named accumulators: with an array, GCC keeps this tile in memory.
#define ROW_OF_4(r)                                                            \
  __m256d c##r##0, c##r##1, c##r##2, c##r##3;                                  \
  if (accumulate) {                                                            \
    c##r##0 = _mm256_loadu_pd(c + 4 * r);                                      \
    c##r##1 = _mm256_loadu_pd(c + 4 * r + ldc);                                \
    c##r##2 = _mm256_loadu_pd(c + 4 * r + 2 * ldc);                            \
    c##r##3 = _mm256_loadu_pd(c + 4 * r + 3 * ldc);                            \
  } else {                                                                     \
    c##r##0 = c##r##1 = c##r##2 = c##r##3 = _mm256_loadu_pd(bias + 4 * r);     \
  }
#define STEP(r)                                                                \
  {                                                                            \
    __m256d a = _mm256_load_pd(ap + 4 * r);                                    \
    c##r##0 = _mm256_fmadd_pd(a, _mm256_broadcast_sd(bp), c##r##0);            \
    c##r##1 = _mm256_fmadd_pd(a, _mm256_broadcast_sd(bp + 1), c##r##1);        \
    c##r##2 = _mm256_fmadd_pd(a, _mm256_broadcast_sd(bp + 2), c##r##2);        \
    c##r##3 = _mm256_fmadd_pd(a, _mm256_broadcast_sd(bp + 3), c##r##3);        \
  }
#define STORE(r)                                                               \
  _mm256_storeu_pd(c + 4 * r, c##r##0);                                        \
  _mm256_storeu_pd(c + 4 * r + ldc, c##r##1);                                  \
  _mm256_storeu_pd(c + 4 * r + 2 * ldc, c##r##2);                              \
  _mm256_storeu_pd(c + 4 * r + 3 * ldc, c##r##3);

void subTile(long k, const double *a, const double *b, const double *bias,
             double *c, long ldc, bool accumulate) {
  ROW_OF_4(0)
  ROW_OF_4(1)
  const double *ap = a, *bp = b;
  for (long p = 0; p < k; ++p, ap += TILE_ROWS, bp += TILE_COLS) {
    STEP(0)
    STEP(1)
  }
  STORE(0)
  STORE(1)
}

void tile(const TileJob &t) {
  for (int j = 0; j < TILE_COLS; j += 4)
    for (int i = 0; i < TILE_ROWS; i += 8)
      subTile(t.k, t.a + i, t.b + j, t.bias + i, t.c + i + j * t.ldc, t.ldc,
              t.accumulate);
  checkBeside(t);
}

} // namespace

TileKernel avx2FmaTile() { return tile; }

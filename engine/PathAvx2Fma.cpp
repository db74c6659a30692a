// Compiled with -mavx2 -mfma: runs only when availablePaths() has
// PATH_AVX2_FMA.
#include "engine/PathChecks.h"

#include <immintrin.h>

namespace {

// 12 x 4 register tile: 12 accumulators, 3 vectors of A and one broadcast
// of B fill the 16 registers; the 24 x 8 tile is four of them. The
// accumulators are named variables because GCC spills an array of them.
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
#define COLUMN(j)                                                              \
  {                                                                            \
    __m256d b = _mm256_broadcast_sd(bp + j);                                   \
    c0##j = _mm256_fmadd_pd(a0, b, c0##j);                                     \
    c1##j = _mm256_fmadd_pd(a1, b, c1##j);                                     \
    c2##j = _mm256_fmadd_pd(a2, b, c2##j);                                     \
  }
#define STORE(r)                                                               \
  _mm256_storeu_pd(c + 4 * r, c##r##0);                                        \
  _mm256_storeu_pd(c + 4 * r + ldc, c##r##1);                                  \
  _mm256_storeu_pd(c + 4 * r + 2 * ldc, c##r##2);                              \
  _mm256_storeu_pd(c + 4 * r + 3 * ldc, c##r##3);

// Inlined into the chunk loop: a call per sub-tile cost about 2 %.
template <bool SUM_B>
__attribute__((always_inline)) inline void
subTile(long k, const double *a, const double *b, const double *bias, double *c,
        long ldc, bool accumulate, unsigned long long *sumB, Prefetch next) {
  ROW_OF_4(0)
  ROW_OF_4(1)
  ROW_OF_4(2)
  const double *ap = a, *bp = b;
  unsigned long long s0 = 0, s1 = 0;
#pragma GCC unroll 4
  for (long p = 0; p < k; ++p, ap += TILE_ROWS, bp += TILE_COLS) {
    if (next.line)
      _mm_prefetch(next.line + p * next.stride, _MM_HINT_T0);
    if (SUM_B)
      addWords<4>(bp, &s0, &s1);
    __m256d a0 = _mm256_load_pd(ap), a1 = _mm256_load_pd(ap + 4),
            a2 = _mm256_load_pd(ap + 8);
    COLUMN(0)
    COLUMN(1)
    COLUMN(2)
    COLUMN(3)
  }
  STORE(0)
  STORE(1)
  STORE(2)
  if (SUM_B)
    *sumB += s0 + s1;
}

// 48 depth steps: this chunk and the next fit in a 32 KB L1.
void tile(const TileJob &t) {
  chunkedTile<12, 4, 48, true, subTile<false>, subTile<true>>(t);
}

} // namespace

TileKernel avx2FmaTile() { return tile; }

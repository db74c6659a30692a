// Compiled with -mavx: runs only when availablePaths() has PATH_AVX.
#include "engine/PathChecks.h"

#include <immintrin.h>

namespace {

// 12 x 4 register tile, multiply then add (AVX has no fused form): 12
// accumulators, two vectors of A, one broadcast of B and a product fill the
// 16 registers, so the third vector of A is read from L1 by each multiply.
// The 24 x 8 tile is four of them. The accumulators are named variables
// because GCC spills an array of them.
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
    c0##j = _mm256_add_pd(c0##j, _mm256_mul_pd(a0, b));                        \
    c1##j = _mm256_add_pd(c1##j, _mm256_mul_pd(a1, b));                        \
    c2##j = _mm256_add_pd(c2##j, _mm256_mul_pd(_mm256_load_pd(ap + 8), b));    \
  }
#define STORE(r)                                                               \
  _mm256_storeu_pd(c + 4 * r, c##r##0);                                        \
  _mm256_storeu_pd(c + 4 * r + ldc, c##r##1);                                  \
  _mm256_storeu_pd(c + 4 * r + 2 * ldc, c##r##2);                              \
  _mm256_storeu_pd(c + 4 * r + 3 * ldc, c##r##3);

// A call per sub-tile: inlined into the chunk loop, it ran slower.
template <bool SUM_B>
__attribute__((noinline)) void
subTile(long k, const double *a, const double *b, const double *bias, double *c,
        long ldc, bool accumulate, unsigned long long *sumB, Prefetch) {
  ROW_OF_4(0)
  ROW_OF_4(1)
  ROW_OF_4(2)
  const double *ap = a, *bp = b;
  unsigned long long s0 = 0, s1 = 0;
#pragma GCC unroll 4
  for (long p = 0; p < k; ++p, ap += TILE_ROWS, bp += TILE_COLS) {
    if (SUM_B)
      addWords<4>(bp, &s0, &s1);
    __m256d a0 = _mm256_load_pd(ap), a1 = _mm256_load_pd(ap + 4);
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

// Fetching ahead made this path slower: it issues more instructions per
// product than the fused one, and the fetches compete with them.
void tile(const TileJob &t) {
  chunkedTile<12, 4, 64, false, subTile<false>, subTile<true>>(t);
}

} // namespace

TileKernel avxTile() { return tile; }

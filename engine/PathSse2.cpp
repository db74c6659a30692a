// The x86-64 baseline: always available.
#include "engine/PathChecks.h"

#include <emmintrin.h>

namespace {

// 12 x 2 register tile, multiply then add. SSE2 has no broadcast from
// memory, so B's pair of columns is used as loaded and swapped: for each pair
// of rows one accumulator holds (row 0, column 0) and (row 1, column 1), the
// other (row 0, column 1) and (row 1, column 0). Every element still adds the
// same products in the same order. The 24 x 8 tile is eight of them.
#define ACCUMULATORS(r)                                                        \
  __m128d d##r, x##r;                                                          \
  if (accumulate) {                                                            \
    __m128d left = _mm_loadu_pd(c + 2 * r),                                    \
            right = _mm_loadu_pd(c + 2 * r + ldc);                             \
    d##r = _mm_shuffle_pd(left, right, 2);                                     \
    x##r = _mm_shuffle_pd(right, left, 2);                                     \
  } else {                                                                     \
    d##r = x##r = _mm_loadu_pd(bias + 2 * r);                                  \
  }
#define PRODUCTS(acc, b)                                                       \
  acc##0 = _mm_add_pd(acc##0, _mm_mul_pd(_mm_load_pd(ap), b));                 \
  acc##1 = _mm_add_pd(acc##1, _mm_mul_pd(_mm_load_pd(ap + 2), b));             \
  acc##2 = _mm_add_pd(acc##2, _mm_mul_pd(_mm_load_pd(ap + 4), b));             \
  acc##3 = _mm_add_pd(acc##3, _mm_mul_pd(_mm_load_pd(ap + 6), b));             \
  acc##4 = _mm_add_pd(acc##4, _mm_mul_pd(_mm_load_pd(ap + 8), b));             \
  acc##5 = _mm_add_pd(acc##5, _mm_mul_pd(_mm_load_pd(ap + 10), b));
#define STORE(r)                                                               \
  _mm_storeu_pd(c + 2 * r, _mm_shuffle_pd(d##r, x##r, 2));                     \
  _mm_storeu_pd(c + 2 * r + ldc, _mm_shuffle_pd(x##r, d##r, 2));

template <bool SUM_B>
void subTile(long k, const double *a, const double *b, const double *bias,
             double *c, long ldc, bool accumulate, unsigned long long *sumB,
             Prefetch) {
  ACCUMULATORS(0)
  ACCUMULATORS(1)
  ACCUMULATORS(2)
  ACCUMULATORS(3)
  ACCUMULATORS(4)
  ACCUMULATORS(5)
  const double *ap = a, *bp = b;
  unsigned long long s0 = 0, s1 = 0;
#pragma GCC unroll 2
  for (long p = 0; p < k; ++p, ap += TILE_ROWS, bp += TILE_COLS) {
    if (SUM_B)
      addWords<2>(bp, &s0, &s1);
    __m128d straight = _mm_load_pd(bp);
    PRODUCTS(d, straight)
    // Makes the compiler read A again rather than keep six vectors of it in
    // registers, which would spill the accumulators.
    __asm__ volatile("" ::: "memory");
    __m128d swapped = _mm_shuffle_pd(straight, straight, 1);
    PRODUCTS(x, swapped)
  }
  STORE(0)
  STORE(1)
  STORE(2)
  STORE(3)
  STORE(4)
  STORE(5)
  if (SUM_B)
    *sumB += s0 + s1;
}

// Fetching ahead made this path slower: it issues more instructions per
// product than the fused one, and the fetches compete with them.
void tile(const TileJob &t) {
  chunkedTile<12, 2, 64, false, subTile<false>, subTile<true>>(t);
}

} // namespace

TileKernel sse2Tile() { return tile; }

#pragma once

// The tile loop of the paths whose register tile is smaller than the shared
// tile, with the checks they run beside the kernel rather than inside it.
// Included by each such path's file, so each copy is vectorised for that
// path's instruction set; internal linkage keeps the copies apart.

#include "engine/EnginePaths.h"

namespace {

typedef unsigned long long __attribute__((may_alias)) Word;

// Depth in chunks: a chunk of the tile's A and B panels (256 bytes per depth
// step) stays in L1 while every sub-tile reads it, then A's is summed from
// there. Over the whole depth, each sub-tile would stream its part of A and B
// from L2 again. B's words are summed inside the first row of sub-tiles, in
// integer registers the kernel leaves idle.

// A wrapping sum: one flipped bit b changes it by 2^b, never by zero. In
// LANES independent sums, which the compiler keeps in several vectors: one
// chain of dependent additions would take longer than the chunk's products.
constexpr int LANES = 16;
unsigned long long sumWords(const double *data, long n) {
  const Word *x = reinterpret_cast<const Word *>(data);
  unsigned long long lanes[LANES] = {};
  long i = 0;
  for (; i + LANES <= n; i += LANES)
    for (int l = 0; l < LANES; ++l)
      lanes[l] += x[i + l];
  unsigned long long s = 0;
  for (; i < n; ++i)
    s += x[i];
  for (unsigned long long lane : lanes)
    s += lane;
  return s;
}

// Compares the stored tile with the reference.
void compareTile(const TileJob &t) {
  unsigned long long d = 0;
  for (int j = 0; j < TILE_COLS; ++j) {
    const Word *x = reinterpret_cast<const Word *>(t.c + j * t.ldc);
    const Word *y = reinterpret_cast<const Word *>(t.ref + j * t.ldc);
    for (int i = 0; i < TILE_ROWS; ++i)
      d |= x[i] ^ y[i];
  }
  *t.diff |= d;
}

// Adds B's COLS words of one depth step to the sums of a sub-tile.
template <int COLS>
inline void addWords(const double *bp, unsigned long long *s0,
                     unsigned long long *s1) {
  const Word *w = reinterpret_cast<const Word *>(bp);
  for (int j = 0; j < COLS; j += 2) {
    *s0 += w[j];
    *s1 += w[j + 1];
  }
}

// One cache line of the next chunk to fetch per depth step, or none.
struct Prefetch {
  const char *line;
  long stride;
};

// Each depth step of a chunk holds four lines: three of A's 24 values and
// one of B's 8. Sub-tile s of four fetches line s of every step. Past the
// end of a shorter last chunk it fetches lines it will not use: prefetches
// never fault.
inline Prefetch nextChunkLine(int s, const double *nextA, const double *nextB) {
  if (s < 3)
    return {reinterpret_cast<const char *>(nextA) + 64 * s,
            TILE_ROWS * long(sizeof(double))};
  return {reinterpret_cast<const char *>(nextB),
          TILE_COLS * long(sizeof(double))};
}

// A sub-tile over depth k; the summing kind adds B's words to *sumB.
typedef void (*SubTile)(long k, const double *a, const double *b,
                        const double *bias, double *c, long ldc,
                        bool accumulate, unsigned long long *sumB,
                        Prefetch next);

// The shared tile as ROWS x COLS sub-tiles, chunk by chunk of CHUNK depth
// steps; after the first chunk every sub-tile carries on from C. The
// additions of each element stay in the same order as in one pass over the
// whole depth. With FETCH, the four sub-tiles of a chunk fetch the next one
// into L1 as they go, so that the first of them does not wait for L2. The
// sub-tiles are template arguments, so that a path may have them inlined.
template <int ROWS, int COLS, long CHUNK, bool FETCH, SubTile plain,
          SubTile summingB>
void chunkedTile(const TileJob &t) {
  static_assert(!FETCH || (TILE_ROWS / ROWS) * (TILE_COLS / COLS) == 4,
                "one line of each depth step per sub-tile");
  unsigned long long sumB = 0;
  for (long k0 = 0; k0 < t.k; k0 += CHUNK) {
    long kc = t.k - k0 < CHUNK ? t.k - k0 : CHUNK;
    const double *a = t.a + k0 * TILE_ROWS, *b = t.b + k0 * TILE_COLS;
    bool accumulate = t.accumulate || k0 > 0;
    bool fetch = FETCH && k0 + CHUNK < t.k;
    int s = 0;
    for (int j = 0; j < TILE_COLS; j += COLS)
      for (int i = 0; i < TILE_ROWS; i += ROWS, ++s) {
        bool sumsB = i == 0 && t.sumB;
        Prefetch next = fetch ? nextChunkLine(s, a + CHUNK * TILE_ROWS,
                                              b + CHUNK * TILE_COLS)
                              : Prefetch{nullptr, 0};
        if (sumsB)
          summingB(kc, a + i, b + j, t.bias + i, t.c + i + j * t.ldc, t.ldc,
                   accumulate, &sumB, next);
        else
          plain(kc, a + i, b + j, t.bias + i, t.c + i + j * t.ldc, t.ldc,
                accumulate, &sumB, next);
      }
    if (t.sumA)
      *t.sumA += sumWords(a, kc * TILE_ROWS);
  }
  if (t.sumB)
    *t.sumB += sumB;
  if (t.ref)
    compareTile(t);
}

} // namespace

#pragma once

// The checks of the paths that run them beside the kernel rather than inside
// it. Included by each such path's file, so each copy is vectorised for that
// path's instruction set; internal linkage keeps the copies apart.

#include "engine/EnginePaths.h"

namespace {

typedef unsigned long long __attribute__((may_alias)) Word;

// A wrapping sum: one flipped bit b changes it by 2^b, never by zero.
unsigned long long sumWords(const double *data, long n) {
  const Word *x = reinterpret_cast<const Word *>(data);
  unsigned long long s = 0;
  for (long i = 0; i < n; ++i)
    s += x[i];
  return s;
}

// Sums the operand panels, then compares the stored tile with the reference.
void checkBeside(const TileJob &t) {
  if (t.sumA)
    *t.sumA += sumWords(t.a, t.k * TILE_ROWS);
  if (t.sumB)
    *t.sumB += sumWords(t.b, t.k * TILE_COLS);
  if (!t.ref)
    return;
  unsigned long long d = 0;
  for (int j = 0; j < TILE_COLS; ++j) {
    const Word *x = reinterpret_cast<const Word *>(t.c + j * t.ldc);
    const Word *y = reinterpret_cast<const Word *>(t.ref + j * t.ldc);
    for (int i = 0; i < TILE_ROWS; ++i)
      d |= x[i] ^ y[i];
  }
  *t.diff |= d;
}

} // namespace

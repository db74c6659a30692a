#pragma once

// The engine's memory for one worker: the operands, packed, the references,
// and the result buffer. One allocation, freed on return; the operands are
// renewed in place during a run.

#include <cstdint>
#include <memory>

#include "engine/Engine.h"

struct Operands {
  double *a;    // M x K, micro-panels of TILE_ROWS rows
  double *b;    // K x N, micro-panels of TILE_COLS columns
  double *bias; // M, one per row
  unsigned long long sumA, sumB;
};

struct Workspace {
  Geometry g;
  Operands exact, random;
  double *c;          // result of the current unit, column major, ldc = M
  double *exactRef;   // integer reference of the exact unit
  double *fusedRef;   // first run of the random unit on a fusing path
  double *unfusedRef; // first run of the random unit on the other paths
  std::unique_ptr<void, void (*)(void *)> memory{nullptr, nullptr};
};

// How the operands of one renewal stress the multiplier. Every pattern keeps
// an exact unit's partial sums exact integers (times a power of two) in one
// binade, and a random unit's partial sums in one binade, so that a flipped
// bit can never be rounded away.
enum DataPattern {
  FULL_MANTISSAS,   // random mantissas; small integers for the exact unit
  EXPONENT_TOP,     // A scaled so that every partial sum is near 2^1020
  EXPONENT_BOTTOM,  // B scaled near the smallest normal exponent
  ALTERNATING_BITS, // mantissas 0101... and 1010...; exact: +-21 and +-42
  SPARSE,           // seven values in eight are zero
  PATTERN_COUNT
};

// Allocates the memory (false when the allocation fails); the operands are
// left unset.
bool createWorkspace(const Geometry &g, bool failAllocation, Workspace *w);
// Fills both operand sets from seed in the given pattern and computes the
// exact reference; the first runs of the random unit are the engine's.
void fillOperands(Workspace *w, uint64_t seed, int pattern);

// Packed positions of an operand element and of a result element.
long indexOfA(const Geometry &g, int row, int depth);
long indexOfB(const Geometry &g, int depth, int col);
inline long indexOfC(const Geometry &g, int row, int col) {
  return row + long(col) * g.m;
}

#pragma once

// The engine's memory for one worker: operands packed once at start, the
// references, and the result buffer. One allocation, freed on return.

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

// Allocates and fills the operands and the exact reference (false when the
// allocation fails).
bool createWorkspace(const Geometry &g, bool failAllocation, Workspace *w);

// Packed positions of an operand element and of a result element.
long indexOfA(const Geometry &g, int row, int depth);
long indexOfB(const Geometry &g, int depth, int col);
inline long indexOfC(const Geometry &g, int row, int col) {
  return row + long(col) * g.m;
}

#pragma once

// One unit's products over its tiles, with the checks made as they run:
// used by the engine and by kernelbench.

#include "engine/Workspace.h"

// The wrapping sums of the operand words the kernels read, and the bits in
// which the result differed from the reference.
struct UnitCheck {
  unsigned long long sumA = 0, sumB = 0, diff = 0;
};

// C = bias + A * B over the tiles, compared with ref (when given) as it is
// made. B's micro-panel stays in L1 while A's micro-panels stream from L2;
// each operand panel is summed on its first use. A fault in the accumulator
// splits its tile's depth in two and flips the partial sum in between: the
// same additions, in the same order, as the unsplit tile. A fault in the
// result flips the finished value, then passes it through the comparison.
// fault may be null.
void computeUnit(const Geometry &g, TileKernel tile, const Operands &o,
                 double *c, const double *ref, const FaultInjection *fault,
                 UnitCheck *check);

// kernelbench [l2Kb] [slices]: how close each path's tile kernel comes to the
// path's own register-only loop, on the one processor it runs on (pin it:
// taskset -c N). The kernel walks one exact unit's tiles with every check it
// runs in the engine (operand sums, comparison with the reference), in short
// slices alternating with slices of the peak loop; the best slice of each is
// kept, since a slice can only lose time to other work. On a shared or
// virtual machine, whose speed drifts by more than the differences being
// measured, this isolates the kernel from the host; enginebench measures the
// engine as the program runs it. l2Kb picks the unit's size as enginebench
// does (default: this machine's); slices defaults to 400.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "FmaPeak.h"
#include "MachineL2.h"
#include "engine/Engine.h"
#include "engine/Unit.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double SLICE_SECONDS = 0.005;

// `units` exact units on `tile`, as the engine runs them; seconds taken.
double runUnits(const Workspace &w, TileKernel tile, long units,
                UnitCheck *check) {
  auto start = Clock::now();
  for (long u = 0; u < units; ++u)
    computeUnit(w.g, tile, w.exact, w.c, w.exactRef, nullptr, check);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Best GFLOPS of the kernel and of the peak loop over `slices` pairs; false
// when a unit's checks failed.
bool measure(const Workspace &w, int path, int slices, double *kernel,
             double *peak) {
  TileKernel tile = tileKernel(path);
  const double flops = 2.0 * w.g.m * w.g.n * w.g.k;
  UnitCheck check;
  long units = std::max(1L, long(SLICE_SECONDS / runUnits(w, tile, 1, &check)));
  long done = 1;
  double best = 1e9;
  *peak = 0;
  for (int s = 0; s < slices; ++s) {
    best = std::min(best, runUnits(w, tile, units, &check));
    done += units;
    *peak = std::max(*peak, peakGflops(path, SLICE_SECONDS));
  }
  *kernel = flops * double(units) / best / 1e9;
  return check.diff == 0 && check.sumA == w.exact.sumA * done &&
         check.sumB == w.exact.sumB * done;
}

} // namespace

int main(int argc, char **argv) {
  int l2Kb = argc > 1 ? atoi(argv[1]) : l2KbPerLogical();
  int slices = argc > 2 ? std::max(1, atoi(argv[2])) : 400;
  Geometry g = geometryFor(l2Kb);
  Workspace w;
  if (!createWorkspace(g, false, &w)) {
    fprintf(stderr, "kernelbench: no memory for the unit\n");
    return 1;
  }
  fillOperands(&w, 1, FULL_MANTISSAS);
  printf("unit %d x %d x %d, %d slices of %.0f ms each\n", g.m, g.n, g.k,
         slices, SLICE_SECONDS * 1000);
  int status = 0;
  unsigned paths = availablePaths();
  for (int p = PATH_COUNT - 1; p >= 0; --p) {
    if (!(paths & (1u << p)))
      continue;
    double kernel = 0, peak = 0;
    bool right = measure(w, p, slices, &kernel, &peak);
    printf("kernel %-8s best %6.2f GFLOPS, peak %6.2f, kernel/peak %.3f%s\n",
           pathName(p), kernel, peak, kernel / peak,
           right ? "" : "  CHECKS FAILED");
    if (!right)
      status = 1;
  }
  return status;
}

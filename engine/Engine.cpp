#include "engine/Engine.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>

#include "engine/Unit.h"
#include "stress/EngineContract.h"

// The program reads the published counts in this order.
static_assert(int(PATH_SSE2) == WORKER_PATH_SSE2 &&
                  int(PATH_AVX) == WORKER_PATH_AVX &&
                  int(PATH_AVX2_FMA) == WORKER_PATH_AVX2_FMA &&
                  int(PATH_AVX512) == WORKER_PATH_AVX512F &&
                  int(PATH_COUNT) == WORKER_PATH_COUNT,
              "engine paths and worker counts disagree");

namespace {

constexpr int DEFAULT_L2_KB = 1024;
constexpr int MIN_L2_KB = 64;
constexpr int MAX_L2_KB = 65536;
constexpr int DEPTH = 512; // a power of two: see the random bias
constexpr int COLUMNS = 64;
// A, B and the result of one kind of unit take about 10 KB per row of A
// plus 256 KB for B: twenty rows per MB of L2 keep a unit in half of it.
constexpr int L2_KB_PER_ROW = 20;
constexpr int MIN_ROWS = TILE_ROWS;
constexpr int MAX_ROWS = 20 * TILE_ROWS;
constexpr long NARROW_PERIOD = 64;
// Units of one kind in a row, so that switching kinds (and the other kind's
// operands into the cache) costs little.
constexpr long KIND_RUN = 64;
// Operands are renewed every RENEW_SECONDS, or less often if a renewal took
// more than 1 / RENEW_COST_RATIO of that: renewing costs under 1 % of the
// engine's throughput even on large units.
constexpr double RENEW_SECONDS = 3.0;
constexpr double RENEW_COST_RATIO = 200.0;

void flipBits(double *value, unsigned long long mask) {
  unsigned long long w;
  std::memcpy(&w, value, sizeof w);
  w ^= mask;
  std::memcpy(value, &w, sizeof w);
}

int widestPath(unsigned paths) {
  for (int p = PATH_COUNT - 1; p >= 0; --p)
    if (paths & (1u << p))
      return p;
  return -1;
}

bool anyNotFinite(const double *c, long n) {
  for (long i = 0; i < n; ++i)
    if (!std::isfinite(c[i]))
      return true;
  return false;
}

bool inTile(const FaultInjection *f, int i, int j) {
  return f && f->row / TILE_ROWS == i / TILE_ROWS &&
         f->col / TILE_COLS == j / TILE_COLS;
}

// A unit's verdict: operands first, since a changed operand also changes
// the result.
int verdict(const Geometry &g, const Operands &o, const double *c,
            const UnitCheck &check, int kind) {
  if (check.sumA != o.sumA || check.sumB != o.sumB)
    return ENGINE_SELF_CHECK;
  if (check.diff == 0)
    return 0;
  if (anyNotFinite(c, long(g.m) * g.n))
    return ENGINE_NOT_FINITE;
  return kind == UNIT_EXACT ? ENGINE_EXACT_MISMATCH : ENGINE_REPEAT_MISMATCH;
}

// The first run of the random unit on `path`, made twice to catch a fault
// in the reference itself.
int firstRun(Workspace *w, int path, double *ref) {
  TileKernel tile = tileKernel(path);
  UnitCheck first;
  computeUnit(w->g, tile, w->random, ref, nullptr, nullptr, &first);
  if (anyNotFinite(ref, long(w->g.m) * w->g.n))
    return ENGINE_NOT_FINITE;
  if (int code = verdict(w->g, w->random, ref, first, UNIT_RANDOM))
    return code;
  UnitCheck second;
  computeUnit(w->g, tile, w->random, w->c, ref, nullptr, &second);
  return verdict(w->g, w->random, w->c, second, UNIT_RANDOM);
}

long long elapsedNs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now() - since)
      .count();
}

// New operands, the exact reference from them, and the first runs of the
// random unit on each kind of path this processor has.
int renew(Workspace *w, uint64_t seed, long renewal, unsigned paths) {
  fillOperands(w, renewalSeed(seed, renewal), int(renewal % PATTERN_COUNT));
  int fusing =
      widestPath(paths & ((1u << PATH_AVX2_FMA) | (1u << PATH_AVX512)));
  if (fusing >= 0) {
    if (int code = firstRun(w, fusing, w->fusedRef))
      return code;
  }
  return firstRun(w, PATH_SSE2, w->unfusedRef);
}

// When the next renewal is due: by unit count when asked, else by time.
struct RenewalClock {
  long every;
  std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
  double periodSeconds = RENEW_SECONDS;

  bool due(long unit) const {
    if (every > 0)
      return unit > 0 && unit % every == 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                         last)
               .count() >= periodSeconds;
  }
  void renewed(long long costNs) {
    last = std::chrono::steady_clock::now();
    double cost = costNs / 1e9 * RENEW_COST_RATIO;
    periodSeconds = cost > RENEW_SECONDS ? cost : RENEW_SECONDS;
  }
};

uint64_t drawSeed() {
  std::random_device device;
  return (uint64_t(device()) << 32) | device();
}

int runUnit(Workspace *w, int path, int kind, const FaultInjection *fault) {
  const Geometry &g = w->g;
  Operands &o = kind == UNIT_EXACT ? w->exact : w->random;
  const double *ref = kind == UNIT_EXACT ? w->exactRef
                      : pathFuses(path)  ? w->fusedRef
                                         : w->unfusedRef;
  double *operand = nullptr;
  if (fault && fault->target == FaultInjection::OPERAND_A)
    operand = o.a + indexOfA(g, fault->row, fault->col);
  if (fault && fault->target == FaultInjection::OPERAND_B)
    operand = o.b + indexOfB(g, fault->row, fault->col);
  if (operand)
    flipBits(operand, fault->mask);
  bool inResult = fault && (fault->target == FaultInjection::ACCUMULATOR ||
                            fault->target == FaultInjection::RESULT);
  UnitCheck check;
  computeUnit(g, tileKernel(path), o, w->c, ref, inResult ? fault : nullptr,
              &check);
  if (operand)
    flipBits(operand, fault->mask);
  return verdict(g, o, w->c, check, kind);
}

bool faultFits(const Geometry &g, const FaultInjection &f) {
  bool onA = f.target == FaultInjection::OPERAND_A;
  bool onB = f.target == FaultInjection::OPERAND_B;
  int rows = onA ? g.m : onB ? g.k : g.m;
  int cols = onA ? g.k : g.n;
  return f.row >= 0 && f.row < rows && f.col >= 0 && f.col < cols &&
         f.mask != 0;
}

} // namespace

void computeUnit(const Geometry &g, TileKernel tile, const Operands &o,
                 double *c, const double *ref, const FaultInjection *fault,
                 UnitCheck *check) {
  for (int j = 0; j < g.n; j += TILE_COLS) {
    for (int i = 0; i < g.m; i += TILE_ROWS) {
      long at = indexOfC(g, i, j);
      TileJob t = {g.k,
                   o.a + long(i) * g.k,
                   o.b + long(j) * g.k,
                   o.bias + i,
                   c + at,
                   g.m,
                   false,
                   ref ? ref + at : nullptr,
                   j == 0 ? &check->sumA : nullptr,
                   i == 0 ? &check->sumB : nullptr,
                   &check->diff};
      if (!inTile(fault, i, j)) {
        tile(t);
        continue;
      }
      TileJob last = t;
      last.accumulate = true;
      t.ref = nullptr;
      if (fault->target == FaultInjection::ACCUMULATOR) {
        t.k = g.k / 2;
        last.k = g.k - t.k;
        last.a += t.k * TILE_ROWS;
        last.b += t.k * TILE_COLS;
      } else {
        last.k = 0;
      }
      tile(t);
      flipBits(c + indexOfC(g, fault->row, fault->col), fault->mask);
      tile(last);
    }
  }
}

Geometry geometryFor(int l2Kb) {
  if (l2Kb < MIN_L2_KB || l2Kb > MAX_L2_KB)
    l2Kb = DEFAULT_L2_KB;
  long rows = l2Kb / L2_KB_PER_ROW / TILE_ROWS * TILE_ROWS;
  if (rows < MIN_ROWS)
    rows = MIN_ROWS;
  if (rows > MAX_ROWS)
    rows = MAX_ROWS;
  return {int(rows), COLUMNS, DEPTH};
}

uint64_t renewalSeed(uint64_t runSeed, long renewal) {
  // A SplitMix64 step: nearby inputs give unrelated seeds.
  uint64_t z = runSeed + uint64_t(renewal + 1) * 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int scheduledKind(long unit) {
  return (unit / KIND_RUN) % 2 ? UNIT_RANDOM : UNIT_EXACT;
}

int scheduledPath(long unit, unsigned paths) {
  int widest = widestPath(paths);
  int narrower[PATH_COUNT], count = 0;
  for (int p = 0; p < widest; ++p)
    if (paths & (1u << p))
      narrower[count++] = p;
  if (count == 0 || unit % NARROW_PERIOD != NARROW_PERIOD - 1)
    return widest;
  return narrower[(unit / NARROW_PERIOD) % count];
}

int runEngine(const int *stopFlag, const EngineOptions &options,
              EngineCounters *counters) {
  unsigned paths = availablePaths();
  if (!stopFlag || widestPath(paths) < 0)
    return ENGINE_INITIALISATION;
  if (options.forcedPath >= 0 && (options.forcedPath >= PATH_COUNT ||
                                  !(paths & (1u << options.forcedPath))))
    return ENGINE_INITIALISATION;
  if (options.forcedKind > UNIT_RANDOM)
    return ENGINE_INITIALISATION;
  Geometry g = geometryFor(options.l2Kb);
  const FaultInjection *fault =
      options.fault.target == FaultInjection::NONE ? nullptr : &options.fault;
  if (fault && !faultFits(g, *fault))
    return ENGINE_INITIALISATION;

  Workspace w;
  if (!createWorkspace(g, options.failAllocation, &w))
    return ENGINE_ALLOCATION;
  uint64_t seed = options.seed ? options.seed : drawSeed();
  long renewal = 0;
  if (int code = renew(&w, seed, renewal, paths))
    return code;

  RenewalClock clock{options.renewEvery};
  double flopsPerUnit = 2.0 * g.m * g.n * g.k;
  for (long unit = 0; options.maxUnits < 0 || unit < options.maxUnits; ++unit) {
    if (stopFlagLowByte(stopFlag))
      break;
    if (clock.due(unit)) {
      auto start = std::chrono::steady_clock::now();
      if (int code = renew(&w, seed, ++renewal, paths))
        return code;
      long long ns = elapsedNs(start);
      clock.renewed(ns);
      if (counters) {
        ++counters->renewals;
        counters->renewalNanoseconds += ns;
      }
      if (stopFlagLowByte(stopFlag))
        break;
    }
    int path = options.forcedPath >= 0 ? options.forcedPath
                                       : scheduledPath(unit, paths);
    int kind =
        options.forcedKind >= 0 ? options.forcedKind : scheduledKind(unit);
    auto start = std::chrono::steady_clock::now();
    int code =
        runUnit(&w, path, kind, fault && fault->unit == unit ? fault : nullptr);
    if (code)
      return code;
    if (counters) {
      counters->flops[path] += uint64_t(flopsPerUnit);
      counters->nanoseconds[path] += elapsedNs(start);
    }
    if (options.verifiedFlops)
      __atomic_fetch_add(options.verifiedFlops + path,
                         (unsigned long long)flopsPerUnit, __ATOMIC_RELAXED);
  }
  return ENGINE_STOPPED;
}

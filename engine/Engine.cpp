#include "engine/Engine.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "engine/Findings.h"
#include "engine/Unit.h"
#include "engine/workloads/Features.h"
#include "engine/workloads/Slices.h"
#include "platform/EngineContract.h"

// The program reads the published counts in this order.
static_assert(int(ENGINE_EXACT_MISMATCH) == FAILURE_EXACT &&
                  int(ENGINE_REPEAT_MISMATCH) == FAILURE_REPEAT &&
                  int(ENGINE_NOT_FINITE) == FAILURE_NOT_FINITE &&
                  int(ENGINE_SELF_CHECK) == FAILURE_OPERAND_SUMS,
              "result codes and failure checks disagree");
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

// A failed check, as the page's record needs it: the result c and the
// reference it was held to (null while the first run is made).
struct Failure {
  int code = 0, path = -1, kind = -1;
  UnitCheck check;
  const Operands *operands = nullptr;
  const double *c = nullptr, *ref = nullptr;
  double *firstRunRef = nullptr; // the first run's buffer, null for a unit
};

// The first run of the random unit on `path`, made twice to catch a fault
// in the reference itself.
int firstRun(Workspace *w, int path, double *ref, Failure *f) {
  TileKernel tile = tileKernel(path);
  *f = {0, path, UNIT_RANDOM, {}, &w->random, ref, nullptr, ref};
  computeUnit(w->g, tile, w->random, ref, nullptr, nullptr, &f->check);
  if (anyNotFinite(ref, long(w->g.m) * w->g.n))
    return f->code = ENGINE_NOT_FINITE;
  if ((f->code = verdict(w->g, w->random, ref, f->check, UNIT_RANDOM)))
    return f->code;
  *f = {0, path, UNIT_RANDOM, {}, &w->random, w->c, ref, ref};
  computeUnit(w->g, tile, w->random, w->c, ref, nullptr, &f->check);
  return f->code = verdict(w->g, w->random, w->c, f->check, UNIT_RANDOM);
}

long long elapsedNs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now() - since)
      .count();
}

int fusingPath(unsigned paths) {
  return widestPath(paths & ((1u << PATH_AVX2_FMA) | (1u << PATH_AVX512)));
}

// What the worker's page learns of this run, and when its engine started.
struct Reporter {
  WorkerPage *page;
  uint64_t seed;
  std::chrono::steady_clock::time_point start =
      std::chrono::steady_clock::now();
  long renewal = 0;
  uint64_t servedRecheck = 0;
};

// New operands, the exact reference from them, and the first runs of the
// random unit on each kind of path this processor has, their digests
// published.
int renew(Workspace *w, const Reporter &r, unsigned paths, Failure *f) {
  fillOperands(w, renewalSeed(r.seed, r.renewal),
               int(r.renewal % PATTERN_COUNT));
  RenewalDigest d;
  int fusing = fusingPath(paths);
  if (fusing >= 0) {
    if (int code = firstRun(w, fusing, w->fusedRef, f))
      return code;
    d.path[DIGEST_FUSED] = fusing;
  }
  if (int code = firstRun(w, PATH_SSE2, w->unfusedRef, f))
    return code;
  d.path[DIGEST_SEPARATE] = PATH_SSE2;
  if (!r.page)
    return 0;
  long n = long(w->g.m) * w->g.n;
  if (fusing >= 0)
    d.digest[DIGEST_FUSED] = referenceDigest(w->fusedRef, n);
  d.digest[DIGEST_SEPARATE] = referenceDigest(w->unfusedRef, n);
  d.elapsedNs = uint64_t(elapsedNs(r.start));
  publishDigest(r.page, uint64_t(r.renewal), d);
  return 0;
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

// The last-level workload's set: this processor's share of the cache,
// within 1 to 32 MB; 4 MB when the processor does not tell.
long lastLevelBytes() {
  long share = lastLevelCacheShare();
  if (share <= 0)
    return 4l << 20;
  return std::min(std::max(share, 1l << 20), 32l << 20);
}

uint64_t drawSeed() {
  std::random_device device;
  return (uint64_t(device()) << 32) | device();
}

int runUnit(Workspace *w, int path, int kind, const FaultInjection *fault,
            Failure *f) {
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
  *f = {0, path, kind, {}, &o, w->c, ref, nullptr};
  computeUnit(g, tileKernel(path), o, w->c, ref, inResult ? fault : nullptr,
              &f->check);
  if (operand)
    flipBits(operand, fault->mask);
  return f->code = verdict(g, o, w->c, f->check, kind);
}

// Records a failure on the page once it was recomputed FAILURE_RETRIES
// times on this processor: a fault that comes back every time is the
// processor's, one that does not is intermittent. fault, when given, hits
// its retriesHit first recomputations again.
void reportFailure(Workspace *w, const Failure &f, const Reporter &r,
                   const FaultInjection *fault) {
  if (!r.page)
    return;
  FailureRecord record;
  record.check = uint32_t(f.code);
  record.path = f.path;
  record.kind = f.kind;
  record.renewal = r.renewal;
  record.renewalSeed = renewalSeed(r.seed, r.renewal);
  if (f.code == ENGINE_SELF_CHECK) {
    bool a = f.check.sumA != f.operands->sumA;
    record.expected = a ? f.operands->sumA : f.operands->sumB;
    record.obtained = a ? f.check.sumA : f.check.sumB;
  } else {
    describeElements(w->g, f.c, f.ref, &record);
  }
  record.elapsedNs = uint64_t(elapsedNs(r.start));
  record.retries = FAILURE_RETRIES;
  for (int i = 0; i < FAILURE_RETRIES; ++i) {
    Failure again;
    const FaultInjection *hit =
        fault && i < fault->retriesHit ? fault : nullptr;
    int code = f.firstRunRef ? firstRun(w, f.path, f.firstRunRef, &again)
                             : runUnit(w, f.path, f.kind, hit, &again);
    record.reproduced += code != 0;
  }
  publishFailure(r.page, record);
}

// The program asked for a renewal's references again: recomputed
// FAILURE_RETRIES times from its seed, their digests answered, then the
// current renewal restored.
int serveRecheck(Workspace *w, Reporter *r, unsigned paths) {
  uint64_t request =
      __atomic_load_n(&r->page->recheckRequest, __ATOMIC_ACQUIRE);
  if (request == 0 || request == r->servedRecheck)
    return 0;
  r->servedRecheck = request;
  long renewal = long(request - 1);
  long n = long(w->g.m) * w->g.n;
  int fusing = fusingPath(paths);
  for (int t = 0; t < FAILURE_RETRIES; ++t) {
    fillOperands(w, renewalSeed(r->seed, renewal),
                 int(renewal % PATTERN_COUNT));
    for (int kind = 0; kind < DIGEST_KIND_COUNT; ++kind) {
      int path = kind == DIGEST_FUSED ? fusing : PATH_SSE2;
      uint64_t digest = 0;
      if (path >= 0) {
        UnitCheck check;
        computeUnit(w->g, tileKernel(path), w->random, w->c, nullptr, nullptr,
                    &check);
        digest = referenceDigest(w->c, n);
      }
      __atomic_store_n(&r->page->recheckDigest[t][kind], digest,
                       __ATOMIC_RELAXED);
    }
  }
  __atomic_store_n(&r->page->recheckAnswer, request, __ATOMIC_RELEASE);
  Failure f;
  int code = renew(w, *r, paths, &f);
  if (code)
    reportFailure(w, f, *r, nullptr);
  return code;
}

// A workload's failure, recorded on the page as the matrix units' are.
int reportWorkloadFailure(int code, const WorkloadSlices &slices,
                          const Reporter &r) {
  if (!r.page)
    return code;
  const SliceFailure &f = slices.failure();
  FailureRecord record;
  record.check = FAILURE_WORKLOAD;
  record.kind = f.kind;
  std::snprintf(record.level, sizeof record.level, "%s", f.level);
  record.renewal = f.turn;
  record.renewalSeed = f.seed;
  record.col = int32_t(f.mismatch.element);
  record.expected = f.mismatch.expected;
  record.obtained = f.mismatch.obtained;
  record.differing = f.mismatch.differing;
  record.elements = f.mismatch.elements;
  record.partner = f.mismatch.partner;
  record.elapsedNs = uint64_t(elapsedNs(r.start));
  record.retries = f.retries;
  record.reproduced = f.reproduced;
  publishFailure(r.page, record);
  return code;
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
  if (options.forcedKind > UNIT_RANDOM ||
      options.forcedWorkload >= WORKER_WORKLOAD_COUNT)
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
  WorkloadSlices slices;
  bool sliced = !options.fpOnly || options.forcedWorkload >= 0;
  if (sliced && !slices.create(lastLevelBytes(), options.partner))
    return ENGINE_ALLOCATION;
  WorkloadTally tally{options.verifiedFlops,
                      counters ? counters->work : nullptr,
                      counters ? counters->workNanoseconds : nullptr};
  const uint64_t workloadSeed = ~seed;
  Reporter reporter{options.page, seed};
  if (options.forcedWorkload >= 0) {
    int code = slices.runUnits(
        options.forcedWorkload, options.forcedLevel, options.maxUnits,
        options.workloadFault.mask ? &options.workloadFault : nullptr, stopFlag,
        workloadSeed, tally);
    return failedWorkload(uint32_t(code)) >= 0
               ? reportWorkloadFailure(code, slices, reporter)
               : code;
  }
  Failure failure;
  if (int code = renew(&w, reporter, paths, &failure)) {
    reportFailure(&w, failure, reporter, nullptr);
    return code;
  }

  RenewalClock clock{options.renewEvery};
  double flopsPerUnit = 2.0 * g.m * g.n * g.k;
  for (long unit = 0; options.maxUnits < 0 || unit < options.maxUnits; ++unit) {
    if (stopFlagLowByte(stopFlag))
      break;
    if (options.page)
      if (int code = serveRecheck(&w, &reporter, paths))
        return code;
    if (sliced && slices.due(options.sliceSeconds)) {
      if (int code = slices.runSlice(options.sliceSeconds, stopFlag,
                                     workloadSeed, tally))
        return reportWorkloadFailure(code, slices, reporter);
      if (stopFlagLowByte(stopFlag))
        break;
    }
    if (clock.due(unit)) {
      auto start = std::chrono::steady_clock::now();
      ++reporter.renewal;
      if (int code = renew(&w, reporter, paths, &failure)) {
        reportFailure(&w, failure, reporter, nullptr);
        return code;
      }
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
    const FaultInjection *hit = fault && fault->unit == unit ? fault : nullptr;
    if (int code = runUnit(&w, path, kind, hit, &failure)) {
      reportFailure(&w, failure, reporter, hit);
      return code;
    }
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

#include "engine/Workspace.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr long ALIGN = 64;
constexpr int EXACT_RANGE = 64; // exact operands are integers in [-64, 64]
// 1.5 * 2^52: with |A|, |B| <= 64 and K <= 1024 the partial sums stay
// integers within [2^52, 2^53), where a double holds every integer.
constexpr int64_t EXACT_BIAS = int64_t(3) << 51;

uint64_t splitMix(uint64_t *state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Mantissas of alternating bits, both phases.
constexpr uint64_t ALTERNATING = 0x5555555555555ull;
constexpr uint64_t MANTISSA = (1ull << 52) - 1;
// Partial sums of an exact unit lie in [2^52, 2^53) before scaling: near
// 2^1020 after EXPONENT_TOP's scale. Random ones lie in [2K, 4K), [2^10, 2^11)
// for K = 512. EXPONENT_BOTTOM's operands are down to 2^-1018 and their
// products stay above 2^-1022, the smallest normal: no subnormal anywhere.
constexpr int EXACT_TOP_SCALE = 968;
constexpr int RANDOM_TOP_SCALE = 1010;
constexpr int BOTTOM_SCALE = -1016;
constexpr int SPARSE_ONE_IN = 8;

// A value in (-1, -0.25] or [0.25, 1) with all 52 mantissa bits random, or
// alternating ones.
double randomValue(uint64_t *state, bool alternating) {
  uint64_t r = splitMix(state);
  uint64_t sign = r & (1ull << 63);
  uint64_t exponent = (1021ull + ((r >> 62) & 1)) << 52; // 2^-2 or 2^-1
  uint64_t mantissa = splitMix(state) >> 12;
  if (alternating)
    mantissa = (r & 1) ? ALTERNATING : ALTERNATING ^ MANTISSA;
  uint64_t bits = sign | exponent | mantissa;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

double exactValue(uint64_t *state, bool alternating) {
  uint64_t r = splitMix(state);
  if (alternating) // 10101 and 101010
    return double((r & 1) ? 21 : 42) * ((r & 2) ? -1 : 1);
  return double(int64_t(r % (2 * EXACT_RANGE + 1)) - EXACT_RANGE);
}

struct Shape {
  int scaleA, scaleB;
  bool alternating, sparse;
};

Shape shapeOf(int pattern, bool exact) {
  Shape s = {0, 0, pattern == ALTERNATING_BITS, pattern == SPARSE};
  if (pattern == EXPONENT_TOP)
    s.scaleA = exact ? EXACT_TOP_SCALE : RANDOM_TOP_SCALE;
  if (pattern == EXPONENT_BOTTOM)
    s.scaleB = BOTTOM_SCALE;
  return s;
}

unsigned long long wordSum(const double *data, long n) {
  unsigned long long s = 0;
  for (long i = 0; i < n; ++i) {
    unsigned long long w;
    std::memcpy(&w, data + i, sizeof w);
    s += w;
  }
  return s;
}

void fill(const Geometry &g, Operands *o, uint64_t seed, bool exact,
          const Shape &shape) {
  auto value = [&](int scale) {
    if (shape.sparse && splitMix(&seed) % SPARSE_ONE_IN)
      return 0.0;
    double v = exact ? exactValue(&seed, shape.alternating)
                     : randomValue(&seed, shape.alternating);
    return std::ldexp(v, scale);
  };
  for (long i = 0; i < long(g.m) * g.k; ++i)
    o->a[i] = value(shape.scaleA);
  for (long i = 0; i < long(g.k) * g.n; ++i)
    o->b[i] = value(shape.scaleB);
  o->sumA = wordSum(o->a, long(g.m) * g.k);
  o->sumB = wordSum(o->b, long(g.k) * g.n);
  // |products| < 1, so K of them move 3K by less than K: the random
  // partial sums stay in [2K, 4K), one binade, for K a power of two.
  double bias = exact ? double(EXACT_BIAS) : 3.0 * g.k;
  for (int i = 0; i < g.m; ++i)
    o->bias[i] = std::ldexp(bias, shape.scaleA + shape.scaleB);
}

// The exact reference in 64-bit integers, element by element from the
// packed operands: a different code path from every kernel. Scaling by a
// power of two is exact both ways.
void integerReference(const Geometry &g, const Operands &o, const Shape &s,
                      double *ref) {
  double unscaleA = std::ldexp(1.0, -s.scaleA);
  double unscaleB = std::ldexp(1.0, -s.scaleB);
  for (int i = 0; i < g.m; ++i)
    for (int j = 0; j < g.n; ++j) {
      int64_t sum = EXACT_BIAS;
      const double *a = o.a + indexOfA(g, i, 0), *b = o.b + indexOfB(g, 0, j);
      for (int p = 0; p < g.k; ++p)
        sum += int64_t(a[p * TILE_ROWS] * unscaleA) *
               int64_t(b[p * TILE_COLS] * unscaleB);
      ref[indexOfC(g, i, j)] = std::ldexp(double(sum), s.scaleA + s.scaleB);
    }
}

// A part's bytes in whole cache lines, and one more, so that each part starts
// one line further into its page than the last. Most parts are whole pages:
// starting them all at the same offset made the kernels 1-2 % slower.
long rounded(long doubles) {
  return (doubles * 8 + ALIGN - 1) / ALIGN * ALIGN + ALIGN;
}

} // namespace

long indexOfA(const Geometry &g, int row, int depth) {
  return long(row / TILE_ROWS) * TILE_ROWS * g.k + long(depth) * TILE_ROWS +
         row % TILE_ROWS;
}

long indexOfB(const Geometry &g, int depth, int col) {
  return long(col / TILE_COLS) * TILE_COLS * g.k + long(depth) * TILE_COLS +
         col % TILE_COLS;
}

long workspaceBytes(const Geometry &g) {
  long mk = rounded(long(g.m) * g.k), kn = rounded(long(g.k) * g.n);
  long mn = rounded(long(g.m) * g.n), m = rounded(g.m);
  return 2 * (mk + kn + m) + 4 * mn;
}

bool createWorkspace(const Geometry &g, bool failAllocation, Workspace *w) {
  w->g = g;
  long bytes = workspaceBytes(g);
  void *block = failAllocation ? nullptr : std::aligned_alloc(ALIGN, bytes);
  if (!block)
    return false;
  w->memory = std::unique_ptr<void, void (*)(void *)>(block, std::free);
  char *next = static_cast<char *>(block);
  auto take = [&next](long doubles) {
    double *p = reinterpret_cast<double *>(next);
    next += rounded(doubles);
    return p;
  };
  for (Operands *o : {&w->exact, &w->random}) {
    o->a = take(long(g.m) * g.k);
    o->b = take(long(g.k) * g.n);
    o->bias = take(g.m);
  }
  w->c = take(long(g.m) * g.n);
  w->exactRef = take(long(g.m) * g.n);
  w->fusedRef = take(long(g.m) * g.n);
  w->unfusedRef = take(long(g.m) * g.n);

  return true;
}

void fillOperands(Workspace *w, uint64_t seed, int pattern) {
  Shape exact = shapeOf(pattern, true);
  fill(w->g, &w->exact, seed, true, exact);
  fill(w->g, &w->random, ~seed, false, shapeOf(pattern, false));
  integerReference(w->g, w->exact, exact, w->exactRef);
}

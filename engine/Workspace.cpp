#include "engine/Workspace.h"

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

// A value in (-1, -0.25] or [0.25, 1) with all 52 mantissa bits random.
double randomValue(uint64_t *state) {
  uint64_t r = splitMix(state);
  uint64_t sign = r & (1ull << 63);
  uint64_t exponent = (1021ull + ((r >> 62) & 1)) << 52; // 2^-2 or 2^-1
  uint64_t bits = sign | exponent | (splitMix(state) >> 12);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

double exactValue(uint64_t *state) {
  return double(int64_t(splitMix(state) % (2 * EXACT_RANGE + 1)) - EXACT_RANGE);
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

template <typename Generate>
void fill(const Geometry &g, Operands *o, uint64_t seed, Generate value) {
  for (long i = 0; i < long(g.m) * g.k; ++i)
    o->a[i] = value(&seed);
  for (long i = 0; i < long(g.k) * g.n; ++i)
    o->b[i] = value(&seed);
  o->sumA = wordSum(o->a, long(g.m) * g.k);
  o->sumB = wordSum(o->b, long(g.k) * g.n);
}

// The exact reference in 64-bit integers, element by element from the
// packed operands: a different code path from every kernel.
void integerReference(const Geometry &g, const Operands &o, double *ref) {
  for (int i = 0; i < g.m; ++i)
    for (int j = 0; j < g.n; ++j) {
      int64_t sum = EXACT_BIAS;
      for (int p = 0; p < g.k; ++p)
        sum +=
            int64_t(o.a[indexOfA(g, i, p)]) * int64_t(o.b[indexOfB(g, p, j)]);
      ref[indexOfC(g, i, j)] = double(sum);
    }
}

long rounded(long doubles) { return (doubles * 8 + ALIGN - 1) / ALIGN * ALIGN; }

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

  fill(g, &w->exact, 0x5EED0001, exactValue);
  fill(g, &w->random, 0x5EED0002, randomValue);
  for (int i = 0; i < g.m; ++i) {
    w->exact.bias[i] = double(EXACT_BIAS);
    // |products| < 1, so K of them move 3K by less than K: the partial
    // sums stay in [2K, 4K), one binade, for K a power of two.
    w->random.bias[i] = 3.0 * g.k;
  }
  integerReference(g, w->exact, w->exactRef);
  return true;
}

#include "engine/workloads/DivideSqrt.h"

#include <cmath>
#include <cstring>

#include "engine/workloads/Features.h"
#include "engine/workloads/Workload.h"

namespace {

constexpr long LANES = 2048; // 16 KB of operands each way, in L1 and L2

void (*const LEVELS[LEVEL_COUNT])(const DivideSqrtJob &) = {
    divideSqrtSse2, nullptr, divideSqrtAvx, divideSqrtAvx512};

class DivideSqrt : public Workload {
public:
  unsigned levels() const override {
    const CpuFeatures &f = cpuFeatures();
    return 1u << LEVEL_PLAIN | f.avx << LEVEL_AVX2 | f.avx512f << LEVEL_AVX512;
  }
  const char *levelName(int level) const override {
    static const char *const names[] = {"SSE2", "?", "AVX", "AVX-512F"};
    return names[level];
  }
  // Integers below 2^26, so every product is exact; the scales keep every
  // value normal.
  bool renew(uint64_t seed) override {
    for (long i = 0; i < LANES; ++i) {
      uint64_t r = nextRandom(&seed);
      double q = double((r & 0x3FFFFFF) | 1),
             d = double((r >> 26 & 0x3FFFFFF) | 1);
      int scaleQ = int(r >> 52 & 0x1FF) - 256;
      int scaleD = int(nextRandom(&seed) % 800) - 400;
      slot(0)[i] = std::ldexp(q * d, scaleQ + scaleD);
      slot(1)[i] = std::ldexp(d, scaleD);
      quotientAnswer()[i] = std::ldexp(q, scaleQ);
      double s = double(nextRandom(&seed) & 0x3FFFFFF) + 1;
      int half = int(nextRandom(&seed) % 800) - 400;
      slot(2)[i] = std::ldexp(s * s, 2 * half);
      rootAnswer()[i] = std::ldexp(s, half);
    }
    return true;
  }
  bool run(int level, const WorkloadFault *fault) override {
    LEVELS[level]({slot(0), slot(1), slot(2), slot(3), slot(4), LANES});
    applyFault(fault, reinterpret_cast<uint64_t *>(slot(3)), 2 * LANES);
    return sameWords(slot(3), slot(5), 2 * LANES);
  }
  uint64_t workPerUnit() const override { return 2 * LANES; }

  // Numerators, denominators, squares, quotients, roots, then the answers
  // of the last two in the same order.
  Buffer<double> memory = makeBuffer<double>(7 * LANES);

private:
  double *slot(int i) { return memory.get() + i * LANES; }
  double *quotientAnswer() { return slot(5); }
  double *rootAnswer() { return slot(6); }
};

} // namespace

std::unique_ptr<Workload> makeDivideSqrt() {
  auto w = std::make_unique<DivideSqrt>();
  return w->memory ? std::move(w) : nullptr;
}

#include "engine/workloads/Carryless.h"

#include <cstring>

#include "engine/workloads/Features.h"
#include "engine/workloads/Workload.h"

namespace {

// Shift and xor: the product without the carry-less multiplier.
void shiftXor(uint64_t a, uint64_t b, uint64_t *out) {
  uint64_t low = 0, high = 0;
  for (int i = 0; i < 64; ++i)
    if (b >> i & 1) {
      low ^= a << i;
      high ^= i ? a >> (64 - i) : 0;
    }
  out[0] = low, out[1] = high;
}

} // namespace

void carrylessPlain(const CarrylessJob &job) {
  for (long g = 0; g < job.pairs; g += 8)
    for (int p = 0; p < 8; ++p) {
      long slot = p % 2 ? 4 + p / 2 : p / 2;
      shiftXor(job.a[g + p], job.b[g + p], job.out + 2 * (g + slot));
    }
}

namespace {

constexpr long PAIRS = 512;

void (*const LEVELS[LEVEL_COUNT])(const CarrylessJob &) = {
    carrylessPlain, carrylessPclmul, nullptr, carrylessVpclmul};

class Carryless : public Workload {
public:
  unsigned levels() const override {
    const CpuFeatures &f = cpuFeatures();
    return 1u << LEVEL_PLAIN | f.pclmul << LEVEL_SSE |
           (f.vpclmul && f.avx512f) << LEVEL_AVX512;
  }
  const char *levelName(int level) const override {
    static const char *const names[] = {"x86-64", "PCLMULQDQ", "?",
                                        "VPCLMULQDQ-512"};
    return names[level];
  }
  bool renew(uint64_t seed) override {
    for (long i = 0; i < 2 * PAIRS; ++i)
      memory[i] = nextRandom(&seed);
    carrylessPlain(job(answer()));
    return true;
  }
  bool run(int level, const WorkloadFault *fault) override {
    LEVELS[level](job(result()));
    applyFault(fault, result(), 2 * PAIRS);
    return sameWords(result(), answer(), 2 * PAIRS);
  }
  uint64_t workPerUnit() const override { return PAIRS; }

  // a, b, the products, their answers.
  Buffer<uint64_t> memory = makeBuffer<uint64_t>(6 * PAIRS);

private:
  uint64_t *result() { return memory.get() + 2 * PAIRS; }
  uint64_t *answer() { return memory.get() + 4 * PAIRS; }
  CarrylessJob job(uint64_t *out) {
    return {memory.get(), memory.get() + PAIRS, out, PAIRS};
  }
};

} // namespace

std::unique_ptr<Workload> makeCarryless() {
  auto w = std::make_unique<Carryless>();
  return w->memory ? std::move(w) : nullptr;
}

#include "engine/workloads/VectorInteger.h"

#include <cstring>

#include "engine/workloads/Features.h"
#include "engine/workloads/Workload.h"

namespace {

constexpr long BLOCKS = 256; // 4 KB of x and of y: in L1 with their results
constexpr int ROUNDS = 64;

int16_t saturate16(int32_t v) {
  return int16_t(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

template <typename W> W word(const uint8_t *p, int i) {
  W w;
  std::memcpy(&w, p + i * sizeof(W), sizeof(W));
  return w;
}
template <typename W> void setWord(uint8_t *p, int i, W w) {
  std::memcpy(p + i * sizeof(W), &w, sizeof(W));
}

// One round on a vector of `lanes` blocks, instruction by instruction in
// plain integer arithmetic: the answers of every level.
void plainRound(uint8_t *x, uint8_t *y, int lanes, const VectorIntegerJob &k) {
  uint8_t shuffled[64];
  for (int l = 0; l < lanes; ++l) {
    uint8_t *xl = x + 16 * l, *yl = y + 16 * l;
    int16_t t[8];
    for (int i = 0; i < 8; ++i)
      t[i] = saturate16(xl[2 * i] * int8_t(k.k1[2 * i]) +
                        xl[2 * i + 1] * int8_t(k.k1[2 * i + 1]));
    uint32_t v[4];
    for (int i = 0; i < 4; ++i) {
      int64_t u = int64_t(t[2 * i]) * word<int16_t>(yl, 2 * i) +
                  int64_t(t[2 * i + 1]) * word<int16_t>(yl, 2 * i + 1);
      v[i] = uint32_t(u) * word<uint32_t>(k.k2, i);
    }
    for (int h = 0; h < 2; ++h) {
      uint32_t sad = 0;
      for (int j = 0; j < 8; ++j) {
        int d = xl[8 * h + j] - yl[8 * h + j];
        sad += uint32_t(d < 0 ? -d : d);
      }
      v[2 * h] += sad;
    }
    uint8_t mixed[16];
    for (int h = 0; h < 2; ++h) {
      uint64_t w = uint64_t(v[2 * h]) * word<uint32_t>(k.k3, 2 * h);
      setWord<uint64_t>(mixed, h, word<uint64_t>(xl, h) ^ w);
    }
    for (int i = 0; i < 16; ++i)
      shuffled[16 * l + i] = k.ctl[i] & 0x80 ? 0 : mixed[k.ctl[i] & 15];
    for (int i = 0; i < 4; ++i)
      setWord<uint32_t>(yl, i, word<uint32_t>(yl, i) + v[i]);
  }
  int words = 4 * lanes;
  for (int i = 0; i < words; ++i)
    setWord<uint32_t>(x, i, word<uint32_t>(shuffled, (i + 1) % words));
}

void plainUnit(const VectorIntegerJob &job, int lanes) {
  for (long b = 0; b < job.blocks; b += lanes) {
    uint8_t x[64], y[64];
    std::memcpy(x, job.x + 16 * b, 16 * lanes);
    std::memcpy(y, job.y + 16 * b, 16 * lanes);
    for (int r = 0; r < job.rounds; ++r)
      plainRound(x, y, lanes, job);
    std::memcpy(job.outX + 16 * b, x, 16 * lanes);
    std::memcpy(job.outY + 16 * b, y, 16 * lanes);
  }
}

void plainLevel(const VectorIntegerJob &job) { plainUnit(job, 1); }

// Blocks per vector of each level: the width its rotation spans.
constexpr int LANES[LEVEL_COUNT] = {1, 1, 2, 4};

class VectorInteger : public Workload {
public:
  unsigned levels() const override {
    const CpuFeatures &f = cpuFeatures();
    return 1u << LEVEL_PLAIN | (f.ssse3 && f.sse41) << LEVEL_SSE |
           f.avx2 << LEVEL_AVX2 | f.avx512bw << LEVEL_AVX512;
  }
  const char *levelName(int level) const override {
    static const char *const names[] = {"x86-64", "SSE4.1", "AVX2",
                                        "AVX-512BW"};
    return names[level];
  }
  bool renew(uint64_t seed) override {
    uint64_t *inputs = reinterpret_cast<uint64_t *>(memory.get());
    for (long i = 0; i < 4 * BLOCKS; ++i)
      inputs[i] = nextRandom(&seed);
    for (int i = 0; i < 16; ++i)
      ctl[i] = uint8_t((i * 7 + seed) & 15); // 7 is odd: a permutation
    for (int i = 0; i < 16; ++i) {
      k1[i] = uint8_t(nextRandom(&seed));
      k2[i] = uint8_t(nextRandom(&seed));
      k3[i] = uint8_t(nextRandom(&seed));
    }
    unsigned here = levels();
    for (int level = 0; level < LEVEL_COUNT; ++level)
      if (here & (1u << level)) {
        VectorIntegerJob j = job(answers(level), answers(level) + 16 * BLOCKS);
        plainUnit(j, LANES[level]);
      }
    return true;
  }
  bool run(int level, const WorkloadFault *fault) override {
    static void (*const units[LEVEL_COUNT])(const VectorIntegerJob &) = {
        plainLevel, vectorIntegerSse, vectorIntegerAvx2, vectorIntegerAvx512};
    uint8_t *out = results();
    units[level](job(out, out + 16 * BLOCKS));
    applyFault(fault, reinterpret_cast<uint64_t *>(out), 32 * BLOCKS / 8);
    return sameWords(out, answers(level), 32 * BLOCKS / 8);
  }
  uint64_t workPerUnit() const override {
    return uint64_t(BLOCKS) * ROUNDS * VECTOR_INTEGER_OPS_PER_ROUND;
  }

  // x and y in, the results, the answers of the four levels: 7 x 8 KB.
  Buffer<uint8_t> memory = makeBuffer<uint8_t>(7 * 32 * BLOCKS);

private:
  alignas(16) uint8_t k1[16], ctl[16], k2[16], k3[16];
  uint8_t *results() { return memory.get() + 2 * 32 * BLOCKS; }
  uint8_t *answers(int level) {
    return memory.get() + (3 + level) * 32 * BLOCKS;
  }
  VectorIntegerJob job(uint8_t *outX, uint8_t *outY) {
    const uint8_t *in = memory.get();
    return {in, in + 16 * BLOCKS, outX, outY, BLOCKS, ROUNDS, k1, ctl, k2, k3};
  }
};

} // namespace

std::unique_ptr<Workload> makeVectorInteger() {
  auto w = std::make_unique<VectorInteger>();
  return w->memory ? std::move(w) : nullptr;
}

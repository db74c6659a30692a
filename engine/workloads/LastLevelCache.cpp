// The last-level cache's workload: a working set the size of this
// processor's share of the cache, copied from one half to the other and back,
// unit by unit, every word read summed into position-dependent checksums
// that must equal those of the data set down at renewal. A unit checks what
// it read, then reads its copy back and checks that too.

#include <cstring>

#include "engine/workloads/Workload.h"

namespace {

constexpr int SUM_LANES = 8; // a cache line of words per step

struct Checksum {
  uint64_t first[SUM_LANES] = {}, second[SUM_LANES] = {};
};
constexpr long CHECKSUM_WORDS = 2 * SUM_LANES;

// Sums of the words and of the running sums, lane by lane: a changed word
// changes the first, two words swapped between lines change the second.
template <bool COPY>
Checksum stream(const uint64_t *from, uint64_t *to, long words) {
  Checksum c;
  for (long i = 0; i < words; i += SUM_LANES)
    for (int l = 0; l < SUM_LANES; ++l) {
      uint64_t w = from[i + l];
      if (COPY)
        to[i + l] = w;
      c.first[l] += w;
      c.second[l] += c.first[l];
    }
  return c;
}

class LastLevelCache : public Workload {
public:
  explicit LastLevelCache(long bytes)
      : words(bytes / 2 / 64 * 8), memory(makeBuffer<uint64_t>(2 * words)) {}
  unsigned levels() const override { return 1u << LEVEL_PLAIN; }
  const char *levelName(int level) const override {
    return level == LEVEL_PLAIN ? "x86-64" : "?";
  }
  bool renew(uint64_t seed) override {
    for (long i = 0; i < words; ++i)
      memory[i] = nextRandom(&seed);
    expected = stream<false>(memory.get(), nullptr, words);
    units = 0;
    return true;
  }
  bool run(int, const WorkloadFault *fault) override {
    uint64_t *from = half(units % 2), *to = half((units + 1) % 2);
    ++units;
    Checksum read = stream<true>(from, to, words);
    if (!sameWords(&read, &expected, CHECKSUM_WORDS))
      return false;
    applyFault(fault, to, words);
    read = stream<false>(to, nullptr, words);
    return sameWords(&read, &expected, CHECKSUM_WORDS);
  }
  uint64_t workPerUnit() const override { return 2 * 8 * uint64_t(words); }

  const long words; // per half, whole cache lines
  Buffer<uint64_t> memory;

private:
  Checksum expected;
  long units = 0;
  uint64_t *half(long i) { return memory.get() + i * words; }
};

} // namespace

std::unique_ptr<Workload> makeLastLevelCache(long bytes) {
  auto w = std::make_unique<LastLevelCache>(bytes);
  return w->memory ? std::move(w) : nullptr;
}

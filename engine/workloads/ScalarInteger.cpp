#include "engine/workloads/ScalarInteger.h"

#include <cstring>

#include "engine/workloads/Features.h"
#include "engine/workloads/Workload.h"

namespace {

// The answers, by means that leave out the instructions under test: 32-bit
// limbs for the products, restoring division, bit loops, a CRC without its
// table.

void productByHalves(const uint64_t *a, const uint64_t *b, uint64_t *out) {
  uint32_t x[2 * LIMBS], y[2 * LIMBS], r[4 * LIMBS] = {};
  for (int i = 0; i < LIMBS; ++i) {
    x[2 * i] = uint32_t(a[i]), x[2 * i + 1] = uint32_t(a[i] >> 32);
    y[2 * i] = uint32_t(b[i]), y[2 * i + 1] = uint32_t(b[i] >> 32);
  }
  for (int i = 0; i < 2 * LIMBS; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < 2 * LIMBS; ++j) {
      uint64_t t = uint64_t(x[i]) * y[j] + r[i + j] + carry;
      r[i + j] = uint32_t(t);
      carry = t >> 32;
    }
    r[i + 2 * LIMBS] = uint32_t(carry);
  }
  for (int k = 0; k < 2 * LIMBS; ++k)
    out[k] = r[2 * k] | uint64_t(r[2 * k + 1]) << 32;
}

void restoringDivision(uint64_t high, uint64_t low, uint64_t d, uint64_t *q,
                       uint64_t *r) {
  uint64_t rem = high, quot = 0;
  for (int bit = 63; bit >= 0; --bit) {
    bool top = rem >> 63;
    rem = rem << 1 | (low >> bit & 1);
    quot <<= 1;
    if (top || rem >= d) {
      rem -= d;
      quot |= 1;
    }
  }
  *q = quot, *r = rem;
}

uint64_t bitLoop(uint64_t w, uint64_t mask, bool deposit) {
  uint64_t result = 0;
  int k = 0;
  for (int i = 0; i < 64; ++i)
    if (mask >> i & 1) {
      if (deposit)
        result |= (w >> k & 1) << i;
      else
        result |= (w >> i & 1) << k;
      ++k;
    }
  return result;
}

void bitAnswers(uint64_t w, uint64_t mask, uint64_t *out) {
  uint64_t count = 0, lead = 64, trail = 64, swapped = 0;
  for (int i = 0; i < 64; ++i)
    if (w >> i & 1) {
      ++count;
      lead = uint64_t(63 - i);
      trail = trail == 64 ? uint64_t(i) : trail;
    }
  for (int i = 0; i < 8; ++i)
    swapped |= (w >> (8 * i) & 0xFF) << (56 - 8 * i);
  out[0] = count, out[1] = lead, out[2] = trail;
  out[3] = bitLoop(w, mask, true), out[4] = bitLoop(w, mask, false);
  out[5] = swapped;
}

constexpr uint32_t CASTAGNOLI = 0x82F63B78; // reflected

uint32_t crcBitwise(const uint64_t *words, int count) {
  uint32_t crc = ~0u;
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(words);
  for (long i = 0; i < count * 8L; ++i) {
    crc ^= bytes[i];
    for (int b = 0; b < 8; ++b)
      crc = crc >> 1 ^ (crc & 1 ? CASTAGNOLI : 0);
  }
  return ~crc;
}

void answers(const ScalarIntegerJob &job) {
  uint64_t *out = job.out;
  for (int p = 0; p < PRODUCTS; ++p, out += 2 * LIMBS)
    productByHalves(job.a + p * LIMBS, job.b + p * LIMBS, out);
  for (int d = 0; d < DIVISIONS; ++d, out += 2)
    restoringDivision(job.high[d], job.low[d], job.divisor[d], out, out + 1);
  for (int i = 0; i < BIT_WORDS; ++i, out += 6)
    bitAnswers(job.bits[i], job.masks[i], out);
  out[0] = crcBitwise(job.crcData, CRC_WORDS);
}

} // namespace

// The plain level: the compiler's own 128-bit multiply and carries, the
// divide instruction, portable bit arithmetic and a table-driven CRC.
void scalarIntegerPlain(const ScalarIntegerJob &job) {
  uint64_t *out = job.out;
  for (int p = 0; p < PRODUCTS; ++p, out += 2 * LIMBS) {
    const uint64_t *a = job.a + p * LIMBS, *b = job.b + p * LIMBS;
    uint64_t r[2 * LIMBS] = {};
    for (int i = 0; i < LIMBS; ++i) {
      unsigned __int128 carry = 0;
      for (int j = 0; j < LIMBS; ++j) {
        carry += (unsigned __int128)a[i] * b[j] + r[i + j];
        r[i + j] = uint64_t(carry);
        carry >>= 64;
      }
      r[i + LIMBS] = uint64_t(carry);
    }
    std::memcpy(out, r, sizeof r);
  }
  for (int d = 0; d < DIVISIONS; ++d, out += 2)
    divide128(job.high[d], job.low[d], job.divisor[d], out, out + 1);
  for (int i = 0; i < BIT_WORDS; ++i, out += 6) {
    uint64_t w = job.bits[i];
    out[0] = uint64_t(__builtin_popcountll(w));
    out[1] = w ? uint64_t(__builtin_clzll(w)) : 64;
    out[2] = w ? uint64_t(__builtin_ctzll(w)) : 64;
    out[3] = bitLoop(w, job.masks[i], true);
    out[4] = bitLoop(w, job.masks[i], false);
    out[5] = __builtin_bswap64(w);
  }
  static const auto table = [] {
    struct {
      uint32_t t[256];
    } table;
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int b = 0; b < 8; ++b)
        c = c >> 1 ^ (c & 1 ? CASTAGNOLI : 0);
      table.t[i] = c;
    }
    return table;
  }();
  uint32_t crc = ~0u;
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(job.crcData);
  for (long i = 0; i < CRC_WORDS * 8L; ++i)
    crc = crc >> 8 ^ table.t[(crc ^ bytes[i]) & 0xFF];
  out[0] = ~crc;
}

namespace {

// Inputs, results and answers in one allocation, in words.
constexpr long INPUT_WORDS =
    2 * PRODUCTS * LIMBS + 3 * DIVISIONS + 2 * BIT_WORDS + CRC_WORDS;

class ScalarInteger : public Workload {
public:
  unsigned levels() const override {
    const CpuFeatures &f = cpuFeatures();
    return 1u << LEVEL_PLAIN | (f.bmi1 && f.bmi2 && f.popcnt && f.sse42)
                                   << LEVEL_SSE;
  }
  const char *levelName(int level) const override {
    return level == LEVEL_PLAIN ? "x86-64"
           : level == LEVEL_SSE ? "BMI2+SSE4.2"
                                : "?";
  }
  bool renew(uint64_t seed) override {
    uint64_t *in = memory.get();
    for (long i = 0; i < INPUT_WORDS; ++i)
      in[i] = nextRandom(&seed);
    // Divisors of every size, and a high word below each.
    uint64_t *high = in + 2 * PRODUCTS * LIMBS, *divisor = high + 2 * DIVISIONS;
    for (int d = 0; d < DIVISIONS; ++d) {
      divisor[d] = (divisor[d] >> (d % 64)) | 1;
      high[d] %= divisor[d];
    }
    // A zero word among the bit operands: the count instructions' edge.
    uint64_t *bits = divisor + DIVISIONS;
    bits[0] = 0;
    ScalarIntegerJob j = job(answer());
    answers(j);
    return true;
  }
  bool run(int level, const WorkloadFault *fault) override {
    ScalarIntegerJob j = job(result());
    (level == LEVEL_PLAIN ? scalarIntegerPlain : scalarIntegerBmi)(j);
    applyFault(fault, result(), SCALAR_RESULT_WORDS);
    return sameWords(result(), answer(), SCALAR_RESULT_WORDS);
  }
  uint64_t workPerUnit() const override {
    // A multiply and two additions per limb pair, a divide, six bit
    // instructions per word, one CRC step per word.
    return PRODUCTS * LIMBS * LIMBS * 3 + DIVISIONS + 6 * BIT_WORDS + CRC_WORDS;
  }

  Buffer<uint64_t> memory =
      makeBuffer<uint64_t>(INPUT_WORDS + 2 * SCALAR_RESULT_WORDS);

private:
  uint64_t *result() { return memory.get() + INPUT_WORDS; }
  uint64_t *answer() { return result() + SCALAR_RESULT_WORDS; }
  ScalarIntegerJob job(uint64_t *out) {
    const uint64_t *in = memory.get();
    const uint64_t *divs = in + 2 * PRODUCTS * LIMBS;
    const uint64_t *bits = divs + 3 * DIVISIONS;
    return {in,
            in + PRODUCTS * LIMBS,
            divs,
            divs + DIVISIONS,
            divs + 2 * DIVISIONS,
            bits,
            bits + BIT_WORDS,
            bits + 2 * BIT_WORDS,
            out};
  }
};

} // namespace

std::unique_ptr<Workload> makeScalarInteger() {
  auto w = std::make_unique<ScalarInteger>();
  return w->memory ? std::move(w) : nullptr;
}

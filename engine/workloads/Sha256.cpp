#include "engine/workloads/Sha256.h"

#include <cstring>

#include "engine/workloads/Features.h"
#include "engine/workloads/Workload.h"

const uint32_t SHA256_K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1,
    0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3,
    0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786,
    0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13,
    0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a,
    0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

namespace {

uint32_t rotr(uint32_t x, int n) { return x >> n | x << (32 - n); }

} // namespace

void sha256Plain(uint32_t state[8], const uint8_t *data, long blocks) {
  for (long b = 0; b < blocks; ++b, data += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = uint32_t(data[4 * i]) << 24 | uint32_t(data[4 * i + 1]) << 16 |
             uint32_t(data[4 * i + 2]) << 8 | data[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ w[i - 15] >> 3;
      uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ w[i - 2] >> 10;
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t v[8];
    std::memcpy(v, state, sizeof v);
    for (int i = 0; i < 64; ++i) {
      uint32_t e = v[4], a = v[0];
      uint32_t t1 = v[7] + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) +
                    ((e & v[5]) ^ (~e & v[6])) + SHA256_K[i] + w[i];
      uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) +
                    ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
      std::memmove(v + 1, v, 7 * sizeof *v);
      v[4] += t1;
      v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i)
      state[i] += v[i];
  }
}

namespace {

constexpr uint32_t INITIAL[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372,
                                 0xa54ff53a, 0x510e527f, 0x9b05688c,
                                 0x1f83d9ab, 0x5be0cd19};
// SHA-256("abc"), FIPS 180-2 appendix B.1.
constexpr uint32_t ABC_DIGEST[8] = {0xba7816bf, 0x8f01cfea, 0x414140de,
                                    0x5dae2223, 0xb00361a3, 0x96177a9c,
                                    0xb410ff61, 0xf20015ad};
constexpr int MESSAGES = 16;
constexpr long MESSAGE_BLOCKS = 4; // 256 bytes each, 4 KB in all

void (*const LEVELS[2])(uint32_t *, const uint8_t *, long) = {sha256Plain,
                                                              sha256Ni};

class Sha256 : public Workload {
public:
  unsigned levels() const override {
    const CpuFeatures &f = cpuFeatures();
    return 1u << LEVEL_PLAIN | (f.sha && f.sse41) << LEVEL_SSE;
  }
  const char *levelName(int level) const override {
    return level == LEVEL_PLAIN ? "x86-64"
           : level == LEVEL_SSE ? "SHA-NI"
                                : "?";
  }
  bool renew(uint64_t seed) override {
    uint64_t *words = reinterpret_cast<uint64_t *>(data.get());
    for (long i = 0; i < MESSAGES * MESSAGE_BLOCKS * 8; ++i)
      words[i] = nextRandom(&seed);
    digests(sha256Plain, answer);
    return knownDigest();
  }
  bool run(int level, const WorkloadFault *fault) override {
    uint32_t result[MESSAGES * 8];
    digests(LEVELS[level], result);
    applyFault(fault, reinterpret_cast<uint64_t *>(result), MESSAGES * 4);
    return sameWords(result, answer, MESSAGES * 4);
  }
  uint64_t workPerUnit() const override {
    return MESSAGES * MESSAGE_BLOCKS * 64;
  }

  Buffer<uint8_t> data = makeBuffer<uint8_t>(MESSAGES * MESSAGE_BLOCKS * 64);

private:
  uint32_t answer[MESSAGES * 8];

  void digests(void (*compress)(uint32_t *, const uint8_t *, long),
               uint32_t *out) {
    for (int m = 0; m < MESSAGES; ++m) {
      std::memcpy(out + 8 * m, INITIAL, sizeof INITIAL);
      compress(out + 8 * m, data.get() + m * MESSAGE_BLOCKS * 64,
               MESSAGE_BLOCKS);
    }
  }

  bool knownDigest() {
    uint8_t block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24; // the message's length in bits
    for (int level = 0; level <= LEVEL_SSE; ++level) {
      if (!(levels() & (1u << level)))
        continue;
      uint32_t state[8];
      std::memcpy(state, INITIAL, sizeof state);
      LEVELS[level](state, block, 1);
      if (!sameWords(state, ABC_DIGEST, 4))
        return false;
    }
    return true;
  }
};

} // namespace

std::unique_ptr<Workload> makeSha256() {
  auto w = std::make_unique<Sha256>();
  return w->data ? std::move(w) : nullptr;
}

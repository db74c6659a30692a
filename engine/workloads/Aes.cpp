#include "engine/workloads/Aes.h"

#include <cstring>

#include "engine/workloads/Features.h"
#include "engine/workloads/Workload.h"
#include "platform/RunRegion.h"

namespace {

uint8_t rotateLeft(uint8_t x, int n) { return uint8_t(x << n | x >> (8 - n)); }

uint8_t times(uint8_t a, uint8_t b) { // in GF(2^8)
  uint8_t p = 0;
  for (; b; b >>= 1) {
    if (b & 1)
      p ^= a;
    a = uint8_t(a << 1 ^ (a & 0x80 ? 0x1B : 0));
  }
  return p;
}

struct Boxes {
  uint8_t forward[256], inverse[256];
};

// The S-box from its definition: the inverse in GF(2^8), then the affine
// map; p walks the group by powers of 3, q by powers of its inverse.
const Boxes &boxes() {
  static const Boxes b = [] {
    Boxes b{};
    uint8_t p = 1, q = 1;
    do {
      p = uint8_t(p ^ p << 1 ^ (p & 0x80 ? 0x1B : 0));
      q ^= q << 1;
      q ^= q << 2;
      q ^= q << 4;
      if (q & 0x80)
        q ^= 0x09;
      uint8_t s = q ^ rotateLeft(q, 1) ^ rotateLeft(q, 2) ^ rotateLeft(q, 3) ^
                  rotateLeft(q, 4);
      b.forward[p] = s ^ 0x63;
    } while (p != 1);
    b.forward[0] = 0x63;
    for (int i = 0; i < 256; ++i)
      b.inverse[b.forward[i]] = uint8_t(i);
    return b;
  }();
  return b;
}

void addKey(uint8_t *s, const uint8_t *k) {
  for (int i = 0; i < 16; ++i)
    s[i] ^= k[i];
}

// Bytes column by column: byte r + 4c is row r of column c.
void subShift(uint8_t *s, const uint8_t *box, bool inverse) {
  uint8_t t[16];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      int shifted = r + 4 * ((c + r) % 4);
      if (inverse)
        t[shifted] = box[s[r + 4 * c]];
      else
        t[r + 4 * c] = box[s[shifted]];
    }
  std::memcpy(s, t, 16);
}

void mixColumns(uint8_t *s, const uint8_t m[4]) {
  for (int c = 0; c < 4; ++c) {
    uint8_t a[4];
    std::memcpy(a, s + 4 * c, 4);
    for (int r = 0; r < 4; ++r)
      s[4 * c + r] = times(a[0], m[(4 - r) % 4]) ^ times(a[1], m[(5 - r) % 4]) ^
                     times(a[2], m[(6 - r) % 4]) ^ times(a[3], m[(7 - r) % 4]);
  }
}

constexpr uint8_t MIX[4] = {2, 3, 1, 1}, UNMIX[4] = {14, 11, 13, 9};

void decryptBlock(const uint8_t *keys, const uint8_t *in, uint8_t *out) {
  uint8_t s[16];
  std::memcpy(s, in, 16);
  addKey(s, keys + 160);
  for (int r = 9; r >= 1; --r) {
    subShift(s, boxes().inverse, true);
    addKey(s, keys + 16 * r);
    mixColumns(s, UNMIX);
  }
  subShift(s, boxes().inverse, true);
  addKey(s, keys);
  std::memcpy(out, s, 16);
}

} // namespace

void aesExpandKey(const uint8_t key[16], uint8_t w[176]) {
  std::memcpy(w, key, 16);
  uint8_t rcon = 1;
  for (int i = 4; i < 44; ++i) {
    uint8_t t[4];
    std::memcpy(t, w + 4 * (i - 1), 4);
    if (i % 4 == 0) {
      uint8_t first = t[0];
      for (int j = 0; j < 3; ++j)
        t[j] = boxes().forward[t[j + 1]];
      t[3] = boxes().forward[first];
      t[0] ^= rcon;
      rcon = times(rcon, 2);
    }
    for (int j = 0; j < 4; ++j)
      w[4 * i + j] = w[4 * (i - 4) + j] ^ t[j];
  }
}

void aesEncryptBlock(const uint8_t keys[176], const uint8_t in[16],
                     uint8_t out[16]) {
  uint8_t s[16];
  std::memcpy(s, in, 16);
  addKey(s, keys);
  for (int r = 1; r <= 9; ++r) {
    subShift(s, boxes().forward, false);
    mixColumns(s, MIX);
    addKey(s, keys + 16 * r);
  }
  subShift(s, boxes().forward, false);
  addKey(s, keys + 160);
  std::memcpy(out, s, 16);
}

void aesPlain(const AesJob &job) {
  for (long b = 0; !job.decryptOnly && b < job.blocks; ++b)
    aesEncryptBlock(job.roundKeys, job.in + 16 * b, job.encrypted + 16 * b);
  for (long b = 0; b < job.blocks; ++b)
    decryptBlock(job.roundKeys, job.encrypted + 16 * b, job.decrypted + 16 * b);
}

namespace {

constexpr long BLOCKS = RUN_AES_WORDS / 2; // 4 KB
constexpr long KNOWN_BLOCKS = 32;
// FIPS-197, appendix C.1.
constexpr uint8_t KNOWN_KEY[16] = {0, 1, 2,  3,  4,  5,  6,  7,
                                   8, 9, 10, 11, 12, 13, 14, 15};
constexpr uint8_t KNOWN_PLAIN[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
                                     0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb,
                                     0xcc, 0xdd, 0xee, 0xff};
constexpr uint8_t KNOWN_CIPHER[16] = {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b,
                                      0x04, 0x30, 0xd8, 0xcd, 0xb7, 0x80,
                                      0x70, 0xb4, 0xc5, 0x5a};

void (*const LEVELS[LEVEL_COUNT])(const AesJob &) = {aesPlain, aesNi,
                                                     aesVaes256, aesVaes512};

// Beside its own units, each worker decrypts on every level of its own what
// the worker before it encrypted in the same turn (same key, same
// plaintext): a fault that the encrypting processor's own decryption undoes
// is caught on another.
class Aes : public Workload {
public:
  explicit Aes(const WorkloadPartner &p) {
    if (!p.region || p.region->workers < 2 || p.worker < 0 ||
        p.worker >= int(p.region->workers))
      return;
    int workers = int(p.region->workers);
    partner = (p.worker + workers - 1) % workers;
    out = runChannel(p.region, p.worker);
    in = runChannel(p.region, partner);
  }
  unsigned levels() const override {
    const CpuFeatures &f = cpuFeatures();
    return 1u << LEVEL_PLAIN | (f.aes && f.sse41) << LEVEL_SSE |
           (f.aes && f.vaes && f.avx2) << LEVEL_AVX2 |
           (f.aes && f.vaes && f.avx512f) << LEVEL_AVX512;
  }
  const char *levelName(int level) const override {
    static const char *const names[] = {"x86-64", "AES-NI", "VAES-256",
                                        "VAES-512"};
    return names[level];
  }
  bool renew(uint64_t seed) override {
    uint8_t key[16];
    for (int i = 0; i < 16; ++i)
      key[i] = uint8_t(nextRandom(&seed));
    aesExpandKey(key, roundKeys);
    for (long i = 0; i < BLOCKS * 2; ++i) {
      uint64_t r = nextRandom(&seed);
      std::memcpy(slot(0) + 8 * i, &r, 8);
    }
    for (long b = 0; b < BLOCKS; ++b)
      aesEncryptBlock(roundKeys, slot(0) + 16 * b, slot(3) + 16 * b);
    turn = seed | 1;
    published = fetched = false;
    crossedLevels = 0;
    return knownAnswers();
  }
  // With a partner, the first unit of a turn publishes its encryption; a
  // fault then hits the published copy only, as an encryption wrong in a
  // way this processor's own decryption undoes.
  bool run(int level, const WorkloadFault *fault) override {
    LEVELS[level]({roundKeys, slot(0), slot(1), slot(2), BLOCKS});
    if (out && !published) {
      publish(fault);
      fault = nullptr;
    }
    applyFault(fault, reinterpret_cast<uint64_t *>(slot(1)), 4 * BLOCKS);
    if (!sameWords(slot(1), slot(3), 2 * BLOCKS) ||
        !sameWords(slot(2), slot(0), 2 * BLOCKS))
      return false;
    crossed = 0;
    if (!in || (crossedLevels & (1u << level)) || !fetch())
      return true;
    LEVELS[level]({roundKeys, nullptr, slot(4), slot(5), BLOCKS, true});
    crossedLevels |= 1u << level;
    crossed = 16 * BLOCKS;
    if (sameWords(slot(5), slot(0), 2 * BLOCKS))
      return true;
    found.partner = partner;
    return false;
  }
  uint64_t workPerUnit() const override { return 2 * 16 * BLOCKS + crossed; }

  // Plaintext, encrypted, decrypted, the encryption's answer, the partner's
  // encryption and its decryption here.
  Buffer<uint8_t> memory = makeBuffer<uint8_t>(6 * 16 * BLOCKS);

private:
  uint8_t roundKeys[176];
  RunChannel *out = nullptr, *in = nullptr;
  int partner = -1;
  uint64_t turn = 0; // the tag of this turn's encryption
  bool published = false, fetched = false;
  unsigned crossedLevels = 0; // levels that decrypted the partner's
  uint64_t crossed = 0;       // bytes of it the last unit decrypted
  uint8_t *slot(int i) { return memory.get() + i * 16 * BLOCKS; }

  void publish(const WorkloadFault *fault) {
    uint64_t words[RUN_AES_WORDS];
    std::memcpy(words, slot(1), sizeof words);
    applyFault(fault, words, RUN_AES_WORDS);
    __atomic_store_n(&out->aesTag, 0, __ATOMIC_RELAXED);
    __atomic_thread_fence(__ATOMIC_RELEASE);
    for (int i = 0; i < RUN_AES_WORDS; ++i)
      __atomic_store_n(out->aesCipher + i, words[i], __ATOMIC_RELAXED);
    __atomic_store_n(&out->aesTag, turn, __ATOMIC_RELEASE);
    published = true;
  }

  // The partner's encryption of this turn, copied whole once it is there.
  bool fetch() {
    if (fetched || __atomic_load_n(&in->aesTag, __ATOMIC_ACQUIRE) != turn)
      return fetched;
    uint64_t words[RUN_AES_WORDS];
    for (int i = 0; i < RUN_AES_WORDS; ++i)
      words[i] = __atomic_load_n(in->aesCipher + i, __ATOMIC_RELAXED);
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    if (__atomic_load_n(&in->aesTag, __ATOMIC_RELAXED) != turn)
      return false;
    std::memcpy(slot(4), words, sizeof words);
    return fetched = true;
  }

  // FIPS-197's example on every level here, in the result slots (the
  // answers of the unit do not need them).
  bool knownAnswers() {
    uint8_t keys[176];
    aesExpandKey(KNOWN_KEY, keys);
    uint8_t *in = slot(1), *out = slot(1) + 16 * KNOWN_BLOCKS, *back = slot(2);
    for (long b = 0; b < KNOWN_BLOCKS; ++b)
      std::memcpy(in + 16 * b, KNOWN_PLAIN, 16);
    for (int level = 0; level < LEVEL_COUNT; ++level) {
      if (!(levels() & (1u << level)))
        continue;
      LEVELS[level]({keys, in, out, back, KNOWN_BLOCKS});
      for (long b = 0; b < KNOWN_BLOCKS; ++b)
        if (!sameWords(out + 16 * b, KNOWN_CIPHER, 2) ||
            !sameWords(back + 16 * b, KNOWN_PLAIN, 2))
          return false;
    }
    return true;
  }
};

} // namespace

std::unique_ptr<Workload> makeAes(const WorkloadPartner &partner) {
  auto w = std::make_unique<Aes>(partner);
  return w->memory ? std::move(w) : nullptr;
}

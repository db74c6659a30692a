// The coherence workload: numbered, checksummed messages from this worker to
// the next through shared cache lines, and from the one before to this one,
// so that the lines travel between the two processors' caches (and
// packages) all the while. Every message received is checked: its number
// the one after the last, its words those its number gives, its sum right.
// Messages alternate between plain stores published by a release store and
// locked exchanges, the two ways cores hand each other data.

#include <chrono>

#include "engine/workloads/Workload.h"
#include "platform/RunRegion.h"

namespace {

// Messages a unit sends and receives at most; below COHERENCE_SLOTS, so that
// a unit's messages always fit in a channel the receiver emptied.
constexpr uint64_t BATCH = 16;
// A unit waits no longer than this for its partner, which may be paused,
// between two slices, or gone.
constexpr auto UNIT_WAIT = std::chrono::milliseconds(1);
constexpr int NUMBER = 0, SUM = COHERENCE_WORDS - 1;

uint64_t payload(uint64_t number, int word) {
  uint64_t state = number * COHERENCE_WORDS + uint64_t(word);
  return nextRandom(&state);
}

uint64_t sumOf(const uint64_t *words) {
  uint64_t sum = 0;
  for (int w = 0; w < SUM; ++w)
    sum = (sum << 7 | sum >> 57) + words[w];
  return sum;
}

// Message n (0-based) carries the number n + 1: a slot never written holds
// 0, one from the lap before holds n + 1 - COHERENCE_SLOTS.
void compose(uint64_t n, uint64_t *words) {
  words[NUMBER] = n + 1;
  for (int w = 1; w < SUM; ++w)
    words[w] = payload(n + 1, w);
  words[SUM] = sumOf(words);
}

class Coherence : public Workload {
public:
  explicit Coherence(const WorkloadPartner &p) {
    if (!p.region || p.region->workers < 2 || p.worker < 0 ||
        p.worker >= int(p.region->workers))
      return;
    int workers = int(p.region->workers);
    out = runChannel(p.region, p.worker);
    in = runChannel(p.region, (p.worker + workers - 1) % workers);
    partner = (p.worker + workers - 1) % workers;
  }
  unsigned levels() const override { return out ? 1u << LEVEL_PLAIN : 0; }
  const char *levelName(int level) const override {
    return level == LEVEL_PLAIN ? "x86-64" : "?";
  }
  // The messages run on from slice to slice over the whole run.
  bool renew(uint64_t) override { return true; }
  bool run(int, const WorkloadFault *fault) override {
    uint64_t sent = 0;
    received = 0;
    auto until = std::chrono::steady_clock::now() + UNIT_WAIT;
    for (unsigned spin = 1; sent < BATCH || received < BATCH; ++spin) {
      if (sent < BATCH && send(sent == 0 ? fault : nullptr))
        ++sent;
      if (received < BATCH) {
        int got = receive();
        if (got < 0)
          return false;
        received += uint64_t(got);
      }
      if (spin % 64 == 0 && std::chrono::steady_clock::now() > until)
        break;
    }
    return true;
  }
  uint64_t workPerUnit() const override { return received; }

private:
  RunChannel *out = nullptr, *in = nullptr;
  int partner = -1;
  uint64_t received = 0;

  // The next message when the receiver left room for it; fault changes one
  // of its words after its sum was made.
  bool send(const WorkloadFault *fault) {
    uint64_t n = out->sent; // this worker's alone
    if (n >=
        __atomic_load_n(&out->received, __ATOMIC_ACQUIRE) + COHERENCE_SLOTS)
      return false;
    uint64_t words[COHERENCE_WORDS];
    compose(n, words);
    applyFault(fault, words, COHERENCE_WORDS);
    uint64_t *line = out->slot[n % COHERENCE_SLOTS].word;
    if (n % 2) {
      for (int w = SUM; w >= NUMBER; --w)
        __atomic_exchange_n(line + w, words[w], __ATOMIC_SEQ_CST);
    } else {
      for (int w = 1; w < COHERENCE_WORDS; ++w)
        __atomic_store_n(line + w, words[w], __ATOMIC_RELAXED);
      __atomic_store_n(line + NUMBER, words[NUMBER], __ATOMIC_RELEASE);
    }
    __atomic_store_n(&out->sent, n + 1, __ATOMIC_RELEASE);
    return true;
  }

  // 1 for a message received whole, 0 when the next is not there yet, -1
  // for one lost, repeated or torn.
  int receive() {
    uint64_t m = in->received; // this worker's alone
    const uint64_t *line = in->slot[m % COHERENCE_SLOTS].word;
    uint64_t number = __atomic_load_n(line + NUMBER, __ATOMIC_ACQUIRE);
    if (number != m + 1) {
      // Sent means written: a slot that still holds another number then
      // lost its message, or was given another (check tells).
      if (__atomic_load_n(&in->sent, __ATOMIC_ACQUIRE) <= m)
        return 0;
    }
    if (!check(m, line))
      return -1;
    __atomic_store_n(&in->received, m + 1, __ATOMIC_RELEASE);
    return 1;
  }

  // The number, the payload and the sum against those message m must have.
  bool check(uint64_t m, const uint64_t *line) {
    uint64_t words[COHERENCE_WORDS], want[COHERENCE_WORDS];
    for (int w = 0; w < COHERENCE_WORDS; ++w)
      words[w] = __atomic_load_n(line + w, __ATOMIC_RELAXED);
    compose(m, want);
    if (sameWords(words, want, COHERENCE_WORDS))
      return true;
    found.partner = partner;
    return false;
  }
};

} // namespace

std::unique_ptr<Workload> makeCoherence(const WorkloadPartner &partner) {
  return std::make_unique<Coherence>(partner);
}

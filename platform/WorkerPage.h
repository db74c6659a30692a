#pragma once

#include <cstdint>

// A worker's second shared page, beside its counts. The program hands in the
// run's seed, so that every worker computes the same units; the engine hands
// out the digest of each renewal's references, so that the program can
// compare processors with each other, and the record of the failure it
// found. The program may ask for a renewal to be recomputed, to learn
// whether a processor changes its answer. Readable while the worker runs
// and after it ended, until its handle is closed (Platform::workerPage).

// Kinds of reference a renewal has: the first run of its random unit on a
// path that rounds the multiply and the add apart, and on one that fuses
// them. The two never give the same bits.
enum DigestKind { DIGEST_SEPARATE, DIGEST_FUSED, DIGEST_KIND_COUNT };

// What found a failure. The engine's checks keep their result codes (see
// platform/EngineContract.h); the comparison between processors is the
// program's.
enum FailureCheck : uint32_t {
  FAILURE_NONE = 0,
  FAILURE_EXACT = 1,
  FAILURE_REPEAT = 2,
  FAILURE_NOT_FINITE = 3,
  FAILURE_OPERAND_SUMS = 4,
  FAILURE_WORKLOAD = 5, // a unit of another workload than the matrix units
  FAILURE_AGREEMENT = 16,
};

// Times a failure is recomputed before it is reported.
constexpr int FAILURE_RETRIES = 3;
// Renewal r in slot r % WORKER_DIGEST_SLOTS. The program reads every second
// and a renewal takes at least three: the ring never laps a reader.
constexpr int WORKER_DIGEST_SLOTS = 64;

struct RenewalDigest {
  uint64_t tag = 0; // renewal + 1 once written; 0 while being written
  uint64_t digest[DIGEST_KIND_COUNT] = {};
  int32_t path[DIGEST_KIND_COUNT] = {-1, -1}; // WorkerPath; -1: none here
  uint64_t elapsedNs = 0;                     // since the engine started
};

struct FailureRecord {
  uint32_t check = FAILURE_NONE; // written last
  int32_t path = -1;             // WorkerPath
  // 0 exact unit, 1 random unit; a workload's failure: its WorkerWorkload.
  int32_t kind = -1;
  int64_t renewal = -1; // a workload's: its turn, and its inputs' seed
  uint64_t renewalSeed = 0;
  // First differing element; -1 where none. A workload's: its result word
  // in col.
  int32_t row = -1, col = -1;
  uint64_t expected = 0, obtained = 0;
  uint64_t differing = 0, elements = 0;
  uint64_t elapsedNs = 0; // since the engine started
  int32_t retries = 0;    // recomputations made
  int32_t reproduced = 0; // of them, those that failed again
  // The other worker of a failure between two: the sender of a message
  // received wrong; -1 where none.
  int32_t partner = -1;
  char level[24] = ""; // a workload's: its level, "AES-NI"
};

struct WorkerPage {
  uint64_t runSeed = 0; // the program's, before the gate opens; 0: draw one
  // The program writes renewal + 1 to recheckRequest; the engine recomputes
  // that renewal's references FAILURE_RETRIES times, writes their digests,
  // then renewal + 1 to recheckAnswer.
  uint64_t recheckRequest = 0;
  uint64_t recheckAnswer = 0;
  uint64_t recheckDigest[FAILURE_RETRIES][DIGEST_KIND_COUNT] = {};
  RenewalDigest digests[WORKER_DIGEST_SLOTS];
  FailureRecord failure;
  // The program's, before the gate opens: this worker's channel in the
  // run's RunRegion; -1: none.
  int32_t worker = -1;
};

// The engine's side: a slot written so that a reader never takes half of it.
inline void publishDigest(WorkerPage *page, uint64_t renewal,
                          const RenewalDigest &d) {
  RenewalDigest &slot = page->digests[renewal % WORKER_DIGEST_SLOTS];
  __atomic_store_n(&slot.tag, 0, __ATOMIC_RELAXED);
  __atomic_thread_fence(__ATOMIC_RELEASE);
  for (int k = 0; k < DIGEST_KIND_COUNT; ++k) {
    __atomic_store_n(&slot.digest[k], d.digest[k], __ATOMIC_RELAXED);
    __atomic_store_n(&slot.path[k], d.path[k], __ATOMIC_RELAXED);
  }
  __atomic_store_n(&slot.elapsedNs, d.elapsedNs, __ATOMIC_RELAXED);
  __atomic_store_n(&slot.tag, renewal + 1, __ATOMIC_RELEASE);
}

// The program's side: the digests of `renewal`, false while its slot holds
// another renewal or is being written.
inline bool readDigest(const WorkerPage &page, uint64_t renewal,
                       RenewalDigest *out) {
  const RenewalDigest &slot = page.digests[renewal % WORKER_DIGEST_SLOTS];
  if (__atomic_load_n(&slot.tag, __ATOMIC_ACQUIRE) != renewal + 1)
    return false;
  for (int k = 0; k < DIGEST_KIND_COUNT; ++k) {
    out->digest[k] = __atomic_load_n(&slot.digest[k], __ATOMIC_RELAXED);
    out->path[k] = __atomic_load_n(&slot.path[k], __ATOMIC_RELAXED);
  }
  out->elapsedNs = __atomic_load_n(&slot.elapsedNs, __ATOMIC_RELAXED);
  out->tag = renewal + 1;
  __atomic_thread_fence(__ATOMIC_ACQUIRE);
  return __atomic_load_n(&slot.tag, __ATOMIC_RELAXED) == renewal + 1;
}

// The program's side: the failure record once the engine wrote it whole.
inline bool readFailure(const WorkerPage &page, FailureRecord *out) {
  if (__atomic_load_n(&page.failure.check, __ATOMIC_ACQUIRE) == FAILURE_NONE)
    return false;
  *out = page.failure;
  return true;
}

// Renewal r of a run fills its operands from a seed that depends on the
// run's seed and on r: the same units on every processor of a run, and in a
// run replayed with its seed.
inline uint64_t renewalSeed(uint64_t runSeed, long renewal) {
  // A SplitMix64 step: nearby inputs give unrelated seeds.
  uint64_t z = runSeed + uint64_t(renewal + 1) * 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

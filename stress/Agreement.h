#pragma once

// The processors of a run compared with each other. Every worker computes
// the same references for a renewal (one seed per run), so a worker whose
// digest differs from the others' miscalculates, even the same way every
// time, where its own checks would agree with it. Renewals are compared as
// the workers reach them, whatever their pace: in the per-core mode, one
// core reaches a renewal minutes after another.

#include "platform/WorkerPage.h"

#include <cstdint>
#include <map>
#include <vector>

struct Disagreement {
  uint64_t renewal = 0;
  int kind = DIGEST_FUSED; // DigestKind
  int path = -1;           // WorkerPath of the first named worker's digest
  // With a majority: the workers against it, and its digest in expected.
  // Without (two workers, or no digest held by more than half): every
  // worker that reported, and expected 0.
  bool majority = false;
  uint64_t expected = 0;
  std::vector<int> workers;
  std::vector<uint64_t> obtained;  // per named worker, its digest
  std::vector<uint64_t> elapsedNs; // per named worker, since its start
};

class Agreement {
public:
  // voters: per worker, whether it takes part (a worker the per-core mode
  // never loads reaches no renewal and must not hold the others back).
  explicit Agreement(const std::vector<bool> &voters = {});

  // Worker w's digests of one renewal.
  void add(int worker, uint64_t renewal, const RenewalDigest &digest);
  // Every renewal the worker published since the last read, in order.
  void read(int worker, const WorkerPage &page);
  // The disagreements found since the last call; a worker is named once.
  std::vector<Disagreement> take();

private:
  struct Renewal {
    int reported = 0;
    std::vector<RenewalDigest> digests; // per worker; tag 0: not yet
  };
  void judge(uint64_t renewal, Renewal &r, int kind);

  std::vector<bool> Voters;
  int Workers;                // voters
  std::vector<uint64_t> Next; // per worker, the next renewal to read
  std::vector<bool> Named;
  std::map<uint64_t, Renewal> Renewals;
  std::vector<Disagreement> Found;
};

#include "stress/Agreement.h"

#include <algorithm>

Agreement::Agreement(const std::vector<bool> &voters)
    : Voters(voters),
      Workers(int(std::count(voters.begin(), voters.end(), true))),
      Next(voters.size(), 0), Named(voters.size(), false) {}

void Agreement::read(int worker, const WorkerPage &page) {
  uint64_t &next = Next[size_t(worker)];
  RenewalDigest d;
  for (;;) {
    if (readDigest(page, next, &d)) {
      add(worker, next++, d);
      continue;
    }
    // Lapped while the program did not read (the machine slept): the
    // renewals overwritten are not compared, the others still are.
    const uint64_t tag = __atomic_load_n(
        &page.digests[next % WORKER_DIGEST_SLOTS].tag, __ATOMIC_ACQUIRE);
    if (tag <= next + 1)
      return;
    next = tag - WORKER_DIGEST_SLOTS;
  }
}

void Agreement::add(int worker, uint64_t renewal, const RenewalDigest &digest) {
  if (worker < 0 || size_t(worker) >= Voters.size() || !Voters[size_t(worker)])
    return;
  Renewal &r = Renewals[renewal];
  if (r.digests.empty())
    r.digests.assign(Voters.size(), RenewalDigest{});
  RenewalDigest &slot = r.digests[size_t(worker)];
  if (slot.tag)
    return;
  slot = digest;
  slot.tag = renewal + 1;
  ++r.reported;
  for (int kind = 0; kind < DIGEST_KIND_COUNT; ++kind)
    judge(renewal, r, kind);
  if (r.reported == Workers)
    Renewals.erase(renewal);
}

// With three workers or more, a digest held by more than half of them is
// the answer as soon as it is, and a worker with another one has failed.
// Once every worker reported, no majority (two workers that differ, or
// opinions split) names them all.
void Agreement::judge(uint64_t renewal, Renewal &r, int kind) {
  std::map<uint64_t, int> votes;
  for (const RenewalDigest &d : r.digests)
    if (d.tag && d.digest[kind])
      ++votes[d.digest[kind]];
  if (votes.size() < 2)
    return;
  uint64_t answer = 0;
  for (const auto &vote : votes)
    if (2 * vote.second > Workers && Workers >= 3)
      answer = vote.first;
  if (!answer && r.reported < Workers)
    return;
  Disagreement found;
  found.renewal = renewal;
  found.kind = kind;
  found.majority = answer != 0;
  found.expected = answer;
  for (int w = 0; w < int(r.digests.size()); ++w) {
    const RenewalDigest &d = r.digests[size_t(w)];
    if (!d.tag || !d.digest[kind] || d.digest[kind] == answer ||
        Named[size_t(w)])
      continue;
    if (found.workers.empty())
      found.path = d.path[kind];
    found.workers.push_back(w);
    found.obtained.push_back(d.digest[kind]);
    found.elapsedNs.push_back(d.elapsedNs);
  }
  if (found.workers.empty() || (!answer && found.workers.size() < 2))
    return;
  for (int w : found.workers)
    Named[size_t(w)] = true;
  Found.push_back(found);
}

std::vector<Disagreement> Agreement::take() {
  std::vector<Disagreement> found;
  found.swap(Found);
  return found;
}

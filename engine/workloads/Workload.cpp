#include "engine/workloads/Workload.h"

#include <cstdlib>
#include <cstring>

std::unique_ptr<Workload> makeVectorInteger();
std::unique_ptr<Workload> makeScalarInteger();
std::unique_ptr<Workload> makeAes(const WorkloadPartner &partner);
std::unique_ptr<Workload> makeSha256();
std::unique_ptr<Workload> makeCarryless();
std::unique_ptr<Workload> makeDivideSqrt();
std::unique_ptr<Workload> makeLastLevelCache(long bytes);
std::unique_ptr<Workload> makeCoherence(const WorkloadPartner &partner);

std::unique_ptr<Workload> makeWorkload(int kind, long lastLevelBytes,
                                       const WorkloadPartner &partner) {
  switch (kind) {
  case WORKLOAD_VECTOR_INTEGER:
    return makeVectorInteger();
  case WORKLOAD_SCALAR_INTEGER:
    return makeScalarInteger();
  case WORKLOAD_AES:
    return makeAes(partner);
  case WORKLOAD_SHA256:
    return makeSha256();
  case WORKLOAD_CARRYLESS:
    return makeCarryless();
  case WORKLOAD_DIVIDE_SQRT:
    return makeDivideSqrt();
  case WORKLOAD_LAST_LEVEL:
    return makeLastLevelCache(lastLevelBytes);
  case WORKLOAD_COHERENCE:
    return makeCoherence(partner);
  default:
    return nullptr;
  }
}

int widestLevel(unsigned levels) {
  for (int l = LEVEL_COUNT - 1; l >= 0; --l)
    if (levels & (1u << l))
      return l;
  return -1;
}

void applyFault(const WorkloadFault *fault, uint64_t *words, long count) {
  if (fault)
    words[fault->word % count] ^= fault->mask;
}

bool Workload::sameWords(const void *result, const void *answer, long n) {
  if (std::memcmp(result, answer, size_t(n) * 8) == 0)
    return true;
  found = {};
  found.elements = uint64_t(n);
  for (long i = 0; i < n; ++i) {
    uint64_t got, want;
    std::memcpy(&got, static_cast<const char *>(result) + 8 * i, 8);
    std::memcpy(&want, static_cast<const char *>(answer) + 8 * i, 8);
    if (got == want)
      continue;
    if (found.differing++ == 0) {
      found.element = i;
      found.expected = want;
      found.obtained = got;
    }
  }
  return false;
}

void AlignedFree::operator()(void *p) const { std::free(p); }

void *allocateAligned(long bytes) {
  long rounded = (bytes + 63) / 64 * 64;
  void *p = std::aligned_alloc(64, size_t(rounded));
  if (p)
    std::memset(p, 0, size_t(rounded));
  return p;
}

#include "engine/workloads/Workload.h"

#include <cstdlib>
#include <cstring>

std::unique_ptr<Workload> makeVectorInteger();
std::unique_ptr<Workload> makeScalarInteger();
std::unique_ptr<Workload> makeAes();
std::unique_ptr<Workload> makeSha256();
std::unique_ptr<Workload> makeCarryless();
std::unique_ptr<Workload> makeDivideSqrt();
std::unique_ptr<Workload> makeLastLevelCache(long bytes);

std::unique_ptr<Workload> makeWorkload(int kind, long lastLevelBytes) {
  switch (kind) {
  case WORKLOAD_VECTOR_INTEGER:
    return makeVectorInteger();
  case WORKLOAD_SCALAR_INTEGER:
    return makeScalarInteger();
  case WORKLOAD_AES:
    return makeAes();
  case WORKLOAD_SHA256:
    return makeSha256();
  case WORKLOAD_CARRYLESS:
    return makeCarryless();
  case WORKLOAD_DIVIDE_SQRT:
    return makeDivideSqrt();
  case WORKLOAD_LAST_LEVEL:
    return makeLastLevelCache(lastLevelBytes);
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

void AlignedFree::operator()(void *p) const { std::free(p); }

void *allocateAligned(long bytes) {
  long rounded = (bytes + 63) / 64 * 64;
  void *p = std::aligned_alloc(64, size_t(rounded));
  if (p)
    std::memset(p, 0, size_t(rounded));
  return p;
}

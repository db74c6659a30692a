#include "engine/Findings.h"

#include <cmath>
#include <cstring>

namespace {
uint64_t wordOf(const double *x) {
  uint64_t w;
  std::memcpy(&w, x, sizeof w);
  return w;
}
} // namespace

uint64_t referenceDigest(const double *ref, long n) {
  // FNV-1a over whole words, then a final mix: order matters, and a digest
  // of 0 (the page's "none") is practically never produced.
  uint64_t h = 0xCBF29CE484222325ull;
  for (long i = 0; i < n; ++i)
    h = (h ^ wordOf(ref + i)) * 0x100000001B3ull;
  h ^= h >> 29;
  return h | 1;
}

void describeElements(const Geometry &g, const double *c, const double *ref,
                      FailureRecord *record) {
  record->elements = uint64_t(g.m) * g.n;
  record->differing = 0;
  for (int i = 0; i < g.m; ++i)
    for (int j = 0; j < g.n; ++j) {
      const double *x = c + indexOfC(g, i, j);
      bool differs = ref ? wordOf(x) != wordOf(ref + indexOfC(g, i, j))
                         : !std::isfinite(*x);
      if (!differs)
        continue;
      if (record->differing++ == 0) {
        record->row = i;
        record->col = j;
        record->obtained = wordOf(x);
        record->expected = ref ? wordOf(ref + indexOfC(g, i, j)) : 0;
      }
    }
}

void publishFailure(WorkerPage *page, const FailureRecord &record) {
  FailureRecord body = record;
  body.check = FAILURE_NONE;
  page->failure = body;
  __atomic_store_n(&page->failure.check, record.check, __ATOMIC_RELEASE);
}

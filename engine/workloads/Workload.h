#pragma once

// The workloads beside the matrix units: loops of units that load the
// processor's other parts (integer and vector-integer units, the AES, SHA
// and carry-less multiply units, the divider, the last-level cache), each
// unit checked exactly against an answer its own instructions did not
// compute.

#include <cstdint>
#include <memory>

#include "platform/WorkerCounters.h"

// The instruction-set levels a workload may run on, narrowest first. What
// each means is the workload's own (levelName); every workload has the
// plain x86-64 level.
enum WorkloadLevel {
  LEVEL_PLAIN,
  LEVEL_SSE,
  LEVEL_AVX2,
  LEVEL_AVX512,
  LEVEL_COUNT
};

// Flips mask in result word `word` (taken modulo the unit's result words)
// of unit `unit`, counted from 0 over a run, after the unit computed it and
// before it is checked.
struct WorkloadFault {
  long unit = -1;
  long word = 0;
  uint64_t mask = 0;
};

// What a failed unit found, for the worker's failure record.
struct WorkloadMismatch {
  long element = -1; // the first result word that differs
  uint64_t expected = 0, obtained = 0;
  uint64_t differing = 0, elements = 0; // words
  int partner = -1; // the other worker of a workload between two
};

// Where a workload between two workers finds the other: the run's region
// and this worker's channel in it (it sends on its own, receives on the one
// before). Without them such a workload has no level.
struct RunRegion;
struct WorkloadPartner {
  RunRegion *region = nullptr;
  int worker = -1;
};

class Workload {
public:
  virtual ~Workload() = default;
  // Bit l set when level l can run here.
  virtual unsigned levels() const = 0;
  // "AVX2", "AES-NI": what the level runs on for this workload.
  virtual const char *levelName(int level) const = 0;
  // New inputs drawn from seed and the answers they must give, computed
  // without the units under test; the known-answer checks of every level
  // here. False when one of those fails.
  virtual bool renew(uint64_t seed) = 0;
  // One unit on an available level; fault may be null. False when its
  // results differ from the answers.
  virtual bool run(int level, const WorkloadFault *fault) = 0;
  // The last unit's work, in its workload's unit of measure.
  virtual uint64_t workPerUnit() const = 0;
  // What the last failed unit or renewal found.
  const WorkloadMismatch &mismatch() const { return found; }

protected:
  // Whether n result words equal their answers; where not, the difference
  // described in found.
  bool sameWords(const void *result, const void *answer, long n);
  WorkloadMismatch found;
};

// A workload of the given kind (WorkerWorkload); null when its memory could
// not be allocated. lastLevelBytes sizes the last-level cache workload.
std::unique_ptr<Workload> makeWorkload(int kind, long lastLevelBytes,
                                       const WorkloadPartner &partner = {});

// The widest level of a set of level bits.
int widestLevel(unsigned levels);

// Flips the fault's bit in words[fault->word % count] when fault is set.
void applyFault(const WorkloadFault *fault, uint64_t *words, long count);

// 64-byte aligned zeroed memory for a workload's buffers.
struct AlignedFree {
  void operator()(void *p) const;
};
template <typename T> using Buffer = std::unique_ptr<T[], AlignedFree>;
void *allocateAligned(long bytes);
template <typename T> Buffer<T> makeBuffer(long count) {
  return Buffer<T>(static_cast<T *>(allocateAligned(count * long(sizeof(T)))));
}

// SplitMix64: the workloads' inputs from a seed.
inline uint64_t nextRandom(uint64_t *state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

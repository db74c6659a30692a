#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A set of logical processors by number, of any size: the kernel numbers
// processors well beyond 64. Built from a 64-bit mask for the first 64
// (bit i = processor i), or processor by processor.
class CpuSet {
public:
  CpuSet() = default;
  CpuSet(uint64_t firstSixtyFour) { // NOLINT: masks read as sets
    if (firstSixtyFour)
      words_.push_back(firstSixtyFour);
  }
  static CpuSet single(int cpu) {
    CpuSet set;
    set.add(cpu);
    return set;
  }

  // Negative numbers are no processor and are ignored.
  void add(int cpu);
  bool contains(int cpu) const;
  bool empty() const { return words_.empty(); }
  int count() const;
  // The processors in increasing order.
  std::vector<int> members() const;
  bool isSubsetOf(const CpuSet &other) const;
  bool operator==(const CpuSet &other) const { return words_ == other.words_; }
  bool operator!=(const CpuSet &other) const { return !(*this == other); }

private:
  // No trailing zero word, so equal sets compare equal.
  std::vector<uint64_t> words_;
};

#include "platform/CpuSet.h"

void CpuSet::add(int cpu) {
  if (cpu < 0)
    return;
  size_t word = size_t(cpu) / 64;
  if (words_.size() <= word)
    words_.resize(word + 1, 0);
  words_[word] |= uint64_t(1) << (cpu % 64);
}

bool CpuSet::contains(int cpu) const {
  if (cpu < 0 || size_t(cpu) / 64 >= words_.size())
    return false;
  return (words_[size_t(cpu) / 64] >> (cpu % 64)) & 1;
}

int CpuSet::count() const {
  int n = 0;
  for (uint64_t w : words_)
    n += __builtin_popcountll(w);
  return n;
}

std::vector<int> CpuSet::members() const {
  std::vector<int> cpus;
  for (size_t i = 0; i < words_.size(); ++i)
    for (uint64_t w = words_[i]; w; w &= w - 1)
      cpus.push_back(int(i * 64) + __builtin_ctzll(w));
  return cpus;
}

bool CpuSet::isSubsetOf(const CpuSet &other) const {
  for (size_t i = 0; i < words_.size(); ++i) {
    uint64_t theirs = i < other.words_.size() ? other.words_[i] : 0;
    if (words_[i] & ~theirs)
      return false;
  }
  return true;
}

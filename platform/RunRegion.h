#pragma once

#include <cstddef>
#include <cstdint>

// Memory shared by every worker of a run, for the workloads that need two
// processors: worker i sends to worker i + 1 (the last to the first) through
// channel i. Zeroed at the start of a run (Platform::openRunRegion); each
// worker learns its place from its WorkerPage.

// Messages in flight per channel: the sender waits for the receiver beyond.
constexpr int COHERENCE_SLOTS = 64;
constexpr int COHERENCE_WORDS = 8; // one cache line

struct alignas(64) CoherenceLine {
  uint64_t word[COHERENCE_WORDS];
};

struct RunChannel {
  CoherenceLine slot[COHERENCE_SLOTS];
  // Apart from the slots and from each other: one writer each.
  alignas(64) uint64_t sent;     // messages published, by the sender
  alignas(64) uint64_t received; // messages checked, by the receiver
};

struct alignas(64) RunRegion {
  uint32_t workers; // channels that follow, one per worker
};

inline size_t runRegionBytes(int workers) {
  return sizeof(RunRegion) + size_t(workers) * sizeof(RunChannel);
}

inline RunChannel *runChannel(RunRegion *region, int worker) {
  return reinterpret_cast<RunChannel *>(region + 1) + worker;
}

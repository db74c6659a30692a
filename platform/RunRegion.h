#pragma once

#include <cstddef>
#include <cstdint>

// Memory shared by every worker of a run, for the workloads that need two
// processors: worker i sends to worker i + 1 (the last to the first) through
// channel i: coherence messages, and what its AES units encrypted. Zeroed at
// the start of a run (Platform::openRunRegion); each worker learns its place
// from its WorkerPage.

// Messages in flight per channel: the sender waits for the receiver beyond.
constexpr int COHERENCE_SLOTS = 64;
constexpr int COHERENCE_WORDS = 8; // one cache line
constexpr int RUN_AES_WORDS = 512; // 4 KB of AES-128 blocks

struct alignas(64) CoherenceLine {
  uint64_t word[COHERENCE_WORDS];
};

struct RunChannel {
  CoherenceLine slot[COHERENCE_SLOTS];
  // Apart from the slots and from each other: one writer each.
  alignas(64) uint64_t sent;     // messages published, by the sender
  alignas(64) uint64_t received; // messages checked, by the receiver
  // The sender's encryption in its AES turn, which the receiver decrypts;
  // the tag names the turn, 0 while it is written.
  alignas(64) uint64_t aesTag;
  uint64_t aesCipher[RUN_AES_WORDS];
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

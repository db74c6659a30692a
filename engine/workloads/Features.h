#pragma once

// What the processor and the OS enable, for the workloads' instruction-set
// levels: each level's file is compiled for its instructions and only ever
// called when they are here.
struct CpuFeatures {
  bool ssse3 = false, sse41 = false, sse42 = false, popcnt = false;
  bool bmi1 = false, bmi2 = false;
  bool aes = false, pclmul = false, sha = false;
  bool avx = false, avx2 = false; // with the OS saving the YMM registers
  bool avx512f = false, avx512bw = false; // with the OS saving ZMM state
  bool vaes = false, vpclmul = false;
};

const CpuFeatures &cpuFeatures();

// Bytes of the last-level cache per logical processor sharing it, from the
// processor's deterministic cache parameters; 0 when it does not say.
long lastLevelCacheShare();

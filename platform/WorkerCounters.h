#pragma once

#include <cstdint>

// The arithmetic a worker's engine has verified: the floating-point
// operations of the units that passed every check, per instruction-set
// path. The engine adds each unit's operations once its check passed, so
// the counts can be read while the worker runs and stay readable after it
// ended, until its handle is closed (Platform::getWorkerCounters).

// The engine's paths, narrowest first: the order of the counts.
enum WorkerPath {
  WORKER_PATH_SSE2,
  WORKER_PATH_AVX,
  WORKER_PATH_AVX2_FMA,
  WORKER_PATH_AVX512F,
  WORKER_PATH_COUNT
};

// "SSE2", "AVX", "AVX2+FMA", "AVX-512F"; "?" outside the paths.
inline const char *workerPathName(int path) {
  static const char *const names[WORKER_PATH_COUNT] = {"SSE2", "AVX",
                                                       "AVX2+FMA", "AVX-512F"};
  return path >= 0 && path < WORKER_PATH_COUNT ? names[path] : "?";
}

struct WorkerCounters {
  uint64_t verifiedFlops[WORKER_PATH_COUNT] = {};
};

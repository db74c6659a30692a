#pragma once

#include <cstdint>

// The arithmetic a worker's engine has verified: the floating-point
// operations of the matrix units that passed every check, per
// instruction-set path, and the work of the other workloads' units, each in
// its own unit of measure. The engine adds each unit's work once its check
// passed, so the counts can be read while the worker runs and stay readable
// after it ended, until its handle is closed (Platform::getWorkerCounters).

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

// The workloads beside the matrix units, in the order of their counts.
enum WorkerWorkload {
  WORKLOAD_VECTOR_INTEGER, // operations (one lane of one instruction)
  WORKLOAD_SCALAR_INTEGER, // operations (one instruction's result)
  WORKLOAD_AES,            // bytes encrypted and decrypted
  WORKLOAD_SHA256,         // bytes hashed
  WORKLOAD_CARRYLESS,      // 64 x 64-bit carry-less products
  WORKLOAD_DIVIDE_SQRT,    // divisions and square roots (one lane each)
  WORKLOAD_LAST_LEVEL,     // bytes streamed through the last-level cache
  WORKLOAD_COHERENCE,      // messages received from another worker
  WORKER_WORKLOAD_COUNT
};

struct WorkloadNames {
  const char *key;  // in the report: "vectorInteger"
  const char *unit; // "operations", "bytes", "products"
  const char *text; // in the user's lines: "entiers vectoriels"
};

inline WorkloadNames workloadNames(int workload) {
  static const WorkloadNames names[WORKER_WORKLOAD_COUNT] = {
      {"vectorInteger", "operations", "entiers vectoriels"},
      {"scalarInteger", "operations", "entiers"},
      {"aes", "bytes", "AES"},
      {"sha256", "bytes", "SHA-256"},
      {"carrylessMultiply", "products", "multiplication sans retenue"},
      {"divideSqrt", "operations", "division et racine carrée"},
      {"lastLevelCache", "bytes", "cache L3"},
      {"coherence", "messages", "cohérence"}};
  return workload >= 0 && workload < WORKER_WORKLOAD_COUNT
             ? names[workload]
             : WorkloadNames{"?", "?", "?"};
}

// The shared page: the paths' counts, then the workloads'.
constexpr int WORKER_COUNTER_COUNT = WORKER_PATH_COUNT + WORKER_WORKLOAD_COUNT;

struct WorkerCounters {
  uint64_t verifiedFlops[WORKER_PATH_COUNT] = {};
  uint64_t verifiedWork[WORKER_WORKLOAD_COUNT] = {};
};

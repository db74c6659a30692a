// workloadbench [slices]: each workload's units, as the engine runs them
// (every check included), on every level this processor has, in work per
// processor-second, on the one processor it runs on (pin it: taskset -c N).
// The crypto units are set beside a register-only loop of their own
// instructions and beside OpenSSL's EVP functions doing the same work
// (AES-128 encryption then decryption of 4 KB, SHA-256 over 4 KB). Slices of
// 5 ms alternate between the compared loops and the best of each is kept,
// since a slice can only lose time to other work; slices defaults to 200.
// Coherence needs two processors: two threads on processors 0 and 1 send to
// each other for as long, and each one's messages received per
// processor-second are given.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <thread>

#include <pthread.h>

#include <openssl/evp.h>

#include "CryptoPeak.h"
#include "engine/workloads/Workload.h"
#include "platform/RunRegion.h"

namespace {

constexpr double SLICE_SECONDS = 0.005;

double threadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// Work per processor-second of one slice of `step`, each call doing `work`.
double slice(const std::function<bool()> &step, double work, bool *ok) {
  double start = threadSeconds(), now = start;
  long calls = 0;
  do {
    *ok = step() && *ok;
    ++calls;
    now = threadSeconds();
  } while (now - start < SLICE_SECONDS);
  return double(calls) * work / (now - start);
}

struct Evp {
  EVP_CIPHER_CTX *enc = EVP_CIPHER_CTX_new(), *dec = EVP_CIPHER_CTX_new();
  EVP_MD_CTX *md = EVP_MD_CTX_new();
  unsigned char key[16] = {1, 2, 3}, in[4096] = {4}, out[4096], back[4096];
  Evp() {
    EVP_EncryptInit_ex(enc, EVP_aes_128_ecb(), nullptr, key, nullptr);
    EVP_DecryptInit_ex(dec, EVP_aes_128_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(enc, 0);
    EVP_CIPHER_CTX_set_padding(dec, 0);
    EVP_DigestInit_ex(md, EVP_sha256(), nullptr);
  }
  ~Evp() {
    EVP_CIPHER_CTX_free(enc);
    EVP_CIPHER_CTX_free(dec);
    EVP_MD_CTX_free(md);
  }
  bool aes() {
    int n = 0, m = 0;
    return EVP_EncryptUpdate(enc, out, &n, in, sizeof in) &&
           EVP_DecryptUpdate(dec, back, &m, out, sizeof out) && n == m;
  }
  bool sha() { return EVP_DigestUpdate(md, in, sizeof in); }
};

const char *const UNITS[] = {"op",       "op", "B", "B",
                             "products", "op", "B", "msg"};

// Messages received per processor-second by each of two threads, on
// processors 0 and 1, sending to each other for `seconds`.
bool coherencePair(double seconds) {
  auto *region = static_cast<RunRegion *>(allocateAligned(runRegionBytes(2)));
  region->workers = 2;
  double rate[2] = {};
  bool ok[2] = {true, true};
  auto side = [&](int i) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(i, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
    std::unique_ptr<Workload> w =
        makeWorkload(WORKLOAD_COHERENCE, 0, {region, i});
    double start = threadSeconds();
    timespec wall, now;
    clock_gettime(CLOCK_MONOTONIC, &wall);
    uint64_t received = 0;
    do {
      ok[i] = w->run(LEVEL_PLAIN, nullptr) && ok[i];
      received += w->workPerUnit();
      clock_gettime(CLOCK_MONOTONIC, &now);
    } while (double(now.tv_sec - wall.tv_sec) +
                 (now.tv_nsec - wall.tv_nsec) / 1e9 <
             seconds);
    rate[i] = double(received) / (threadSeconds() - start);
  };
  std::thread first(side, 0), second(side, 1);
  first.join();
  second.join();
  AlignedFree()(region);
  printf("%-18s %-15s %10.3g %s/s on processor 0, %.3g on 1%s\n",
         workloadNames(WORKLOAD_COHERENCE).key, "x86-64", rate[0],
         UNITS[WORKLOAD_COHERENCE], rate[1],
         ok[0] && ok[1] ? "" : "  CHECK FAILED");
  return ok[0] && ok[1];
}

} // namespace

int main(int argc, char **argv) {
  int slices = argc > 1 ? atoi(argv[1]) : 200;
  Evp evp;
  int failures = 0;
  for (int kind = 0; kind < WORKER_WORKLOAD_COUNT; ++kind) {
    std::unique_ptr<Workload> w = makeWorkload(kind, 8l << 20);
    if (!w || !w->renew(0x5EED)) {
      printf("%s: could not set up\n", workloadNames(kind).key);
      return 1;
    }
    for (int level = 0; level < LEVEL_COUNT; ++level) {
      if (!(w->levels() & (1u << level)))
        continue;
      // Beside it: its own instructions' loop and the library, where any.
      std::function<double()> peak, library;
      if (kind == WORKLOAD_AES && level > 0)
        peak = [level] {
          return aesPeakBytesPerSecond(1 << (level - 1), SLICE_SECONDS);
        };
      if (kind == WORKLOAD_SHA256 && level > 0)
        peak = [] { return shaPeakBytesPerSecond(SLICE_SECONDS); };
      bool ok = true;
      if (kind == WORKLOAD_AES)
        library = [&] { return slice([&] { return evp.aes(); }, 8192, &ok); };
      if (kind == WORKLOAD_SHA256)
        library = [&] { return slice([&] { return evp.sha(); }, 4096, &ok); };
      double best = 0, bestPeak = 0, bestLibrary = 0;
      for (int s = 0; s < slices; ++s) {
        best = std::max(best, slice([&] { return w->run(level, nullptr); },
                                    double(w->workPerUnit()), &ok));
        if (peak)
          bestPeak = std::max(bestPeak, peak());
        if (library)
          bestLibrary = std::max(bestLibrary, library());
      }
      printf("%-18s %-15s %10.3g %s/s", workloadNames(kind).key,
             w->levelName(level), best, UNITS[kind]);
      if (peak)
        printf("  own loop %10.3g  unit/loop %.3f", bestPeak, best / bestPeak);
      if (library)
        printf("  OpenSSL %10.3g  unit/OpenSSL %.3f", bestLibrary,
               best / bestLibrary);
      printf("%s\n", ok ? "" : "  CHECK FAILED");
      failures += !ok;
    }
  }
  if (std::thread::hardware_concurrency() > 1)
    failures += !coherencePair(slices * SLICE_SECONDS * 2);
  return failures ? 1 : 0;
}

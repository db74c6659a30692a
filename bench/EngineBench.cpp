// enginebench [seconds] [l2Kb] [processes|threads]: loads every logical
// processor in phases of `seconds` each (default 10): the FMA peak loop,
// OpenBLAS cblas_dgemm on one thread per processor on the engine's own sizes
// and on large matrices, the engine, stopped by the shared flag as the
// program stops it, and the peak loop again. The engine runs as the program
// runs it, in one process per worker loading the one Burnmod.so with the
// flag in shared memory; "threads" runs it on threads of the bench, each
// through its own copy of the library, for comparison. Then, for every path
// the processor has, its own peak loop, the engine forced onto that path (on
// the widest path twice more: with a worker page as the program gives it,
// then without), and the peak loop again; and OpenBLAS restricted to its AVX2
// kernel, in a child process since OpenBLAS picks its kernel when it loads. A
// shared or virtual machine's peak drifts; the engine is compared with the mean
// of the two peaks that bracket it. l2Kb defaults to this machine's L2 per
// logical processor, as the program computes it. The report ends with lines a
// script can read:
//   summary PATH engine/peak R engine/openblas R   (worst worker, R or -)
//   summary stop-latency-ms X

#include <cblas.h>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "FmaPeak.h"
#include "MachineL2.h"
#include "engine/Engine.h"
#include "platform/EngineContract.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

typedef void (*CountersFn)(unsigned long long *, unsigned long long *);

enum Phase { PEAK, BLAS, BLAS_LARGE, ENGINE, PEAK_AFTER, PHASES };
// Each path's phases follow: its peak, the engine forced onto it, its peak.
// On the widest path the engine runs again with a worker page, as the
// program runs it (digests published every renewal, failures recorded),
// then once more without: the second phase of two runs slower by a percent
// or two here, so the page's cost is taken against the runs around it.
enum PathPhase {
  PATH_PEAK,
  PATH_ENGINE,
  PATH_ENGINE_PAGE,
  PATH_ENGINE_AGAIN,
  PATH_PEAK_AFTER,
  PATH_PHASES
};
constexpr int ALL_PHASES = PHASES + PATH_COUNT * PATH_PHASES;

int pathPhase(int path, PathPhase phase) {
  return PHASES + path * PATH_PHASES + phase;
}

// The engine child's argument: one worker process.
constexpr const char *ENGINE_CHILD = "--engine-worker";

// The child's argument and the kernel it must run on.
constexpr const char *HASWELL_CHILD = "--openblas-haswell";
constexpr const char *HASWELL = "Haswell";

// A size where OpenBLAS packs little relative to its work: its best case.
constexpr int LARGE = 1536;

// Processor time over wall time of one thread in one phase: below 1 when
// something else ran on the processor meanwhile.
double cpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// Per processor-second figures of one path: its peak loop before and after,
// the engine forced onto it (every unit's flops over all of the run's
// processor time, set-up included).
struct PathFigures {
  double peak = 0, peakAfter = 0, engine = 0;
  double engineWithPage = 0, engineAgain = 0;
  int code = -1;
  unsigned long long renewals = 0;
  double renewalSeconds = 0, runSeconds = 0; // wall
};

struct Worker {
  double peak = 0, peakAfter = 0, blas = 0, blasLarge = 0;
  double share[ALL_PHASES] = {};
  unsigned long long flops[PATH_COUNT] = {}, ns[PATH_COUNT] = {};
  int code = -1;
  double stopLatencyMs = 0;
  double processShare = 0; // of a worker process
  PathFigures path[PATH_COUNT];
  double blasHaswell = 0; // per processor-second, 0 when not measured
};

void pin(std::thread &t, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  pthread_setaffinity_np(t.native_handle(), sizeof set, &set);
}

template <typename Body>
void onEveryProcessor(std::vector<Worker> &workers, int phase, Body body) {
  std::vector<std::thread> threads;
  for (int cpu = 0; cpu < int(workers.size()); ++cpu) {
    threads.emplace_back([&, cpu] {
      double cpu0 = cpuSeconds();
      auto wall0 = Clock::now();
      body(cpu);
      double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
      workers[cpu].share[phase] = (cpuSeconds() - cpu0) / wall;
    });
    pin(threads.back(), cpu);
  }
  for (std::thread &t : threads)
    t.join();
}

double blasGflops(const Geometry &g, double seconds) {
  std::vector<double> a(size_t(g.m) * g.k, 0.5), b(size_t(g.k) * g.n, 0.25),
      c(size_t(g.m) * g.n, 0);
  auto start = Clock::now();
  double elapsed = 0, flops = 0;
  while (elapsed < seconds) {
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, g.m, g.n, g.k, 1.0,
                a.data(), g.m, b.data(), g.k, 1.0, c.data(), g.m);
    flops += 2.0 * g.m * g.n * g.k;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  }
  return flops / elapsed / 1e9;
}

// Copies the engine for workers 1..count-1 into a scratch folder: threads of
// one process need a file each for engines of their own.
std::vector<std::string> engineCopies(const fs::path &engine,
                                      const fs::path &dir, int count) {
  std::vector<std::string> files;
  for (int k = 0; k < count; ++k) {
    char name[32];
    snprintf(name, sizeof name, "Burnmod%d.so", k);
    fs::path file = dir / (k == 0 ? ENGINE_FILE : name);
    fs::copy_file(engine, file, fs::copy_options::overwrite_existing);
    files.push_back(file);
  }
  return files;
}

// The engine forced onto `path` on every processor for `seconds`, stopped
// through the flag, with a worker page in PATH_ENGINE_PAGE; flops over the
// processor time each thread really had.
void measureForcedPath(std::vector<Worker> &workers, int path, int l2Kb,
                       double seconds, PathPhase which = PATH_ENGINE) {
  int stopFlag = 0;
  const bool withPage = which == PATH_ENGINE_PAGE;
  onEveryProcessor(workers, pathPhase(path, which), [&](int cpu) {
    WorkerPage page;
    page.runSeed = 0x5eed;
    EngineOptions options;
    options.l2Kb = l2Kb;
    options.forcedPath = path;
    options.fpOnly = true;
    options.page = withPage ? &page : nullptr;
    EngineCounters counters = {};
    std::thread stopper;
    if (cpu == 0)
      stopper = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        setStopFlagLowByte(&stopFlag, 1);
      });
    double cpu0 = cpuSeconds();
    auto wall0 = Clock::now();
    PathFigures &f = workers[cpu].path[path];
    const int code = runEngine(&stopFlag, options, &counters);
    const double gflops = counters.flops[path] / (cpuSeconds() - cpu0) / 1e9;
    if (which != PATH_ENGINE) {
      (withPage ? f.engineWithPage : f.engineAgain) = gflops;
    } else {
      f.code = code;
      f.engine = gflops;
      f.runSeconds =
          std::chrono::duration<double>(Clock::now() - wall0).count();
      f.renewals = counters.renewals;
      f.renewalSeconds = counters.renewalNanoseconds / 1e9;
    }
    if (stopper.joinable())
      stopper.join();
  });
}

// The engine on every processor on threads of the bench, each through its
// own copy of the library.
void engineThroughCopies(std::vector<Worker> &workers, const fs::path &engine,
                         int l2Kb, double seconds) {
  int count = int(workers.size());
  char pattern[] = "/tmp/enginebench.XXXXXX";
  if (!mkdtemp(pattern))
    return;
  fs::path dir = pattern;
  std::vector<std::string> files = engineCopies(engine, dir, count);
  int stopFlag = 0;
  std::atomic<long long> stopAt{0};
  onEveryProcessor(workers, ENGINE, [&](int cpu) {
    Worker &w = workers[cpu];
    void *lib = dlopen(files[cpu].c_str(), RTLD_NOW | RTLD_LOCAL);
    auto setStop = lib ? (SetStopTestFn)dlsym(lib, "SetStopTest") : nullptr;
    auto run = lib ? (RunTestFn)dlsym(lib, "RunTest") : nullptr;
    auto counters = lib ? (CountersFn)dlsym(lib, "GetEngineCounters") : nullptr;
    if (!setStop || !run || !counters) {
      fprintf(stderr, "%s: %s\n", files[cpu].c_str(), dlerror());
      return;
    }
    setStop(&stopFlag);
    if (cpu == 0) {
      std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        stopAt = Clock::now().time_since_epoch().count();
        setStopFlagLowByte(&stopFlag, 1);
      });
      w.code = run(l2Kb | ENGINE_LOAD_FP_ONLY);
      stopper.join();
    } else {
      w.code = run(l2Kb | ENGINE_LOAD_FP_ONLY);
    }
    long long end = Clock::now().time_since_epoch().count();
    w.stopLatencyMs = (end - stopAt) / 1e6;
    counters(w.flops, w.ns);
    dlclose(lib);
  });
  fs::remove_all(dir);
}

// In the child: one worker as the program runs it, the engine beside the
// bench and the stop flag shared through descriptor fd. Prints its code, its
// processor share, when it returned and its counters.
int engineChild(int l2Kb, int fd) {
  void *page =
      mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  fs::path engine = fs::canonical("/proc/self/exe").parent_path() / ENGINE_FILE;
  void *lib = dlopen(engine.c_str(), RTLD_NOW | RTLD_LOCAL);
  auto setStop = lib ? (SetStopTestFn)dlsym(lib, "SetStopTest") : nullptr;
  auto run = lib ? (RunTestFn)dlsym(lib, "RunTest") : nullptr;
  auto counters = lib ? (CountersFn)dlsym(lib, "GetEngineCounters") : nullptr;
  if (page == MAP_FAILED || !setStop || !run || !counters) {
    fprintf(stderr, "%s: %s\n", engine.c_str(), dlerror());
    return 1;
  }
  setStop(static_cast<int *>(page));
  double cpu0 = cpuSeconds();
  auto wall0 = Clock::now();
  int code = run(l2Kb | ENGINE_LOAD_FP_ONLY);
  auto end = Clock::now();
  double wall = std::chrono::duration<double>(end - wall0).count();
  unsigned long long flops[WORKER_COUNTER_COUNT] = {},
                     ns[WORKER_COUNTER_COUNT] = {};
  counters(flops, ns);
  printf("%d %f %lld", code, (cpuSeconds() - cpu0) / wall,
         (long long)end.time_since_epoch().count());
  for (int p = 0; p < PATH_COUNT; ++p)
    printf(" %llu %llu", flops[p], ns[p]);
  printf("\n");
  return 0;
}

// The engine on every processor in worker processes; each inherits its
// processor from the bench thread that starts it.
void engineThroughProcesses(std::vector<Worker> &workers, int l2Kb,
                            double seconds) {
  int fd = memfd_create("enginebench-stop", 0);
  if (fd < 0 || ftruncate(fd, sizeof(int)) != 0)
    return;
  auto *stopFlag = static_cast<int *>(
      mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  if (stopFlag == MAP_FAILED)
    return;
  *stopFlag = 0;
  std::atomic<long long> stopAt{0};
  const std::string command = fs::canonical("/proc/self/exe").string() + " " +
                              ENGINE_CHILD + " " + std::to_string(l2Kb) + " " +
                              std::to_string(fd);
  onEveryProcessor(workers, ENGINE, [&](int cpu) {
    Worker &w = workers[cpu];
    std::thread stopper;
    if (cpu == 0)
      stopper = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        stopAt = Clock::now().time_since_epoch().count();
        setStopFlagLowByte(stopFlag, 1);
      });
    FILE *child = popen(command.c_str(), "r");
    long long end = 0;
    bool read = child && fscanf(child, "%d %lf %lld", &w.code, &w.processShare,
                                &end) == 3;
    for (int p = 0; read && p < PATH_COUNT; ++p)
      read = fscanf(child, "%llu %llu", &w.flops[p], &w.ns[p]) == 2;
    if (child)
      pclose(child);
    if (stopper.joinable())
      stopper.join();
    w.stopLatencyMs = (end - stopAt) / 1e6;
  });
  // The bench threads only waited: the share is the worker's own.
  for (Worker &w : workers)
    w.share[ENGINE] = w.processShare;
  munmap(stopFlag, sizeof(int));
  close(fd);
}

// In the child: OpenBLAS on its AVX2 kernel, one line per processor with
// GFLOPS per processor-second.
int haswellChild(double seconds, int l2Kb) {
  openblas_set_num_threads(1);
  if (std::string(openblas_get_corename()) != HASWELL) {
    fprintf(stderr, "OpenBLAS runs its %s kernel, not %s\n",
            openblas_get_corename(), HASWELL);
    return 1;
  }
  std::vector<Worker> workers(sysconf(_SC_NPROCESSORS_ONLN));
  onEveryProcessor(workers, BLAS, [&](int cpu) {
    workers[cpu].blas = blasGflops(geometryFor(l2Kb), seconds);
  });
  for (int cpu = 0; cpu < int(workers.size()); ++cpu)
    printf("%d %f\n", cpu, workers[cpu].blas / workers[cpu].share[BLAS]);
  return 0;
}

// Runs this program again with OpenBLAS told to load its AVX2 kernel.
void measureHaswellBlas(std::vector<Worker> &workers, double seconds,
                        int l2Kb) {
  std::string command = "OPENBLAS_CORETYPE=" + std::string(HASWELL) + " '" +
                        fs::canonical("/proc/self/exe").string() + "' " +
                        HASWELL_CHILD + " " + std::to_string(seconds) + " " +
                        std::to_string(l2Kb);
  FILE *child = popen(command.c_str(), "r");
  if (!child)
    return;
  int cpu = 0;
  double gflops = 0;
  while (fscanf(child, "%d %lf", &cpu, &gflops) == 2)
    if (cpu >= 0 && cpu < int(workers.size()))
      workers[cpu].blasHaswell = gflops;
  pclose(child);
}

int widestPath(unsigned paths) {
  int widest = PATH_COUNT - 1;
  while (widest > 0 && !(paths & (1u << widest)))
    --widest;
  return widest;
}

double meanPeak(const PathFigures &f) { return (f.peak + f.peakAfter) / 2; }

// One line per path, worst worker first: the lowest of each ratio.
void printSummary(const std::vector<Worker> &workers, unsigned paths,
                  double worstLatency) {
  for (int p = PATH_COUNT - 1; p >= 0; --p) {
    if (!(paths & (1u << p)))
      continue;
    double worstPeak = 1e9, worstBlas = 1e9;
    for (const Worker &w : workers) {
      const PathFigures &f = w.path[p];
      if (meanPeak(f) > 0 && f.engine / meanPeak(f) < worstPeak)
        worstPeak = f.engine / meanPeak(f);
      if (p == PATH_AVX2_FMA && w.blasHaswell > 0 &&
          f.engine / w.blasHaswell < worstBlas)
        worstBlas = f.engine / w.blasHaswell;
    }
    char blas[32] = "-";
    if (worstBlas < 1e9)
      snprintf(blas, sizeof blas, "%.3f", worstBlas);
    printf("summary %s engine/peak %.3f engine/openblas %s\n", pathName(p),
           worstPeak, blas);
  }
  printf("summary stop-latency-ms %.2f\n", worstLatency);
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == HASWELL_CHILD)
    return haswellChild(atof(argv[2]), atoi(argv[3]));
  if (argc == 4 && std::string(argv[1]) == ENGINE_CHILD)
    return engineChild(atoi(argv[2]), atoi(argv[3]));
  const bool threads = argc > 3 && std::string(argv[3]) == "threads";
  double seconds = argc > 1 ? atof(argv[1]) : 10;
  int l2Kb = argc > 2 ? atoi(argv[2]) : l2KbPerLogical();
  int count = int(sysconf(_SC_NPROCESSORS_ONLN));
  unsigned paths = availablePaths();
  Geometry g = geometryFor(l2Kb);
  fs::path engine = fs::canonical("/proc/self/exe").parent_path() / ENGINE_FILE;
  std::vector<Worker> workers(count);

  printf("%d logical processors, L2 per logical %d KB, unit %d x %d x %d, "
         "%.1f s per phase\n",
         count, l2Kb, g.m, g.n, g.k, seconds);
  onEveryProcessor(workers, PEAK, [&](int cpu) {
    workers[cpu].peak = peakGflops(widestPath(paths), seconds);
  });
  openblas_set_num_threads(1);
  printf("OpenBLAS: core %s, config %s\n", openblas_get_corename(),
         openblas_get_config());
  onEveryProcessor(workers, BLAS, [&](int cpu) {
    workers[cpu].blas = blasGflops(g, seconds);
  });
  onEveryProcessor(workers, BLAS_LARGE, [&](int cpu) {
    workers[cpu].blasLarge = blasGflops({LARGE, LARGE, LARGE}, seconds);
  });

  if (threads)
    engineThroughCopies(workers, engine, l2Kb, seconds);
  else
    engineThroughProcesses(workers, l2Kb, seconds);
  onEveryProcessor(workers, PEAK_AFTER, [&](int cpu) {
    workers[cpu].peakAfter = peakGflops(widestPath(paths), seconds);
  });
  for (int p = PATH_COUNT - 1; p >= 0; --p) {
    if (!(paths & (1u << p)))
      continue;
    onEveryProcessor(workers, pathPhase(p, PATH_PEAK), [&](int cpu) {
      workers[cpu].path[p].peak = peakGflops(p, seconds);
    });
    measureForcedPath(workers, p, l2Kb, seconds);
    if (p == widestPath(paths)) {
      measureForcedPath(workers, p, l2Kb, seconds, PATH_ENGINE_PAGE);
      measureForcedPath(workers, p, l2Kb, seconds, PATH_ENGINE_AGAIN);
    }
    onEveryProcessor(workers, pathPhase(p, PATH_PEAK_AFTER), [&](int cpu) {
      workers[cpu].path[p].peakAfter = peakGflops(p, seconds);
    });
    for (Worker &w : workers) {
      w.path[p].peak /= w.share[pathPhase(p, PATH_PEAK)];
      w.path[p].peakAfter /= w.share[pathPhase(p, PATH_PEAK_AFTER)];
    }
  }
  if (paths & (1u << PATH_AVX2_FMA))
    measureHaswellBlas(workers, seconds, l2Kb);

  int widest = widestPath(paths);
  // Wall-clock figures, then the same per second of processor time the
  // thread really had: on a machine shared with other work only the latter
  // compare the engine with the peak and OpenBLAS fairly.
  double worstLatency = 0;
  for (int cpu = 0; cpu < count; ++cpu) {
    const Worker &w = workers[cpu];
    printf("worker %d: code %d, stop latency %.2f ms\n", cpu, w.code,
           w.stopLatencyMs);
    printf("  processor share: peak %.3f and %.3f, OpenBLAS %.3f and %.3f, "
           "engine %.3f\n",
           w.share[PEAK], w.share[PEAK_AFTER], w.share[BLAS],
           w.share[BLAS_LARGE], w.share[ENGINE]);
    printf("  GFLOPS            wall  per processor-second\n");
    printf("  FMA peak       %7.2f  %7.2f  (before the engine)\n", w.peak,
           w.peak / w.share[PEAK]);
    printf("  FMA peak       %7.2f  %7.2f  (after the engine)\n", w.peakAfter,
           w.peakAfter / w.share[PEAK_AFTER]);
    printf("  OpenBLAS dgemm %7.2f  %7.2f  (the engine's unit size)\n", w.blas,
           w.blas / w.share[BLAS]);
    printf("  OpenBLAS dgemm %7.2f  %7.2f  (%d cubed)\n", w.blasLarge,
           w.blasLarge / w.share[BLAS_LARGE], LARGE);
    for (int p = PATH_COUNT - 1; p >= 0; --p)
      if (w.ns[p]) {
        double g = double(w.flops[p]) / w.ns[p];
        printf("  engine %-8s%7.2f  %7.2f  (%.2f s)\n", pathName(p), g,
               g / w.share[ENGINE], w.ns[p] / 1e9);
      }
    if (w.ns[widest] && w.peak > 0 && w.peakAfter > 0) {
      double g = double(w.flops[widest]) / w.ns[widest];
      double peak = (w.peak + w.peakAfter) / 2;
      double peakCpu =
          (w.peak / w.share[PEAK] + w.peakAfter / w.share[PEAK_AFTER]) / 2;
      printf("  %s / peak (mean of both): wall %.3f, processor-time %.3f\n",
             pathName(widest), g / peak, g / w.share[ENGINE] / peakCpu);
      printf("  %s / OpenBLAS: wall %.3f, processor-time %.3f; against %d "
             "cubed: wall %.3f, processor-time %.3f\n",
             pathName(widest), g / w.blas,
             g / w.share[ENGINE] / (w.blas / w.share[BLAS]), LARGE,
             g / w.blasLarge,
             g / w.share[ENGINE] / (w.blasLarge / w.share[BLAS_LARGE]));
    }
    if (w.stopLatencyMs > worstLatency)
      worstLatency = w.stopLatencyMs;
  }
  printf("worst stop latency %.2f ms\n", worstLatency);
  printf("each path alone, GFLOPS per processor-second:\n");
  for (int cpu = 0; cpu < count; ++cpu)
    for (int p = PATH_COUNT - 1; p >= 0; --p) {
      const PathFigures &f = workers[cpu].path[p];
      if (!(paths & (1u << p)))
        continue;
      printf("  worker %d %-8s code %d, peak %.2f and %.2f, engine %.2f, "
             "engine/peak %.3f, processor share %.3f\n",
             cpu, pathName(p), f.code, f.peak, f.peakAfter, f.engine,
             f.engine / meanPeak(f),
             workers[cpu].share[pathPhase(p, PATH_ENGINE)]);
      if (f.engineWithPage > 0)
        printf("    with its worker page (digests, failure record) %.2f, "
               "without again %.2f: %.2f %% of the mean without\n",
               f.engineWithPage, f.engineAgain,
               200 * f.engineWithPage / (f.engine + f.engineAgain));
      if (f.renewals)
        printf("    operands renewed %llu times, %.2f ms each, %.2f %% of the "
               "run\n",
               f.renewals, f.renewalSeconds * 1e3 / f.renewals,
               100 * f.renewalSeconds / f.runSeconds);
    }
  for (int cpu = 0; cpu < count; ++cpu)
    if (workers[cpu].blasHaswell > 0)
      printf("  worker %d OpenBLAS dgemm on its %s kernel %.2f (the engine's "
             "unit size)\n",
             cpu, HASWELL, workers[cpu].blasHaswell);
  printSummary(workers, paths, worstLatency);
  return 0;
}

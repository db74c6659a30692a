#include "engine/Engine.h"
#include "engine/Workspace.h"
#include "platform/EngineContract.h"
#include "platform/Platform.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <new>
#include <thread>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(EngineOptions)

namespace {

// The smallest geometry (24 x 64 x 512) keeps each case to milliseconds.
constexpr int SMALL_L2_KB = 64;
// An exact unit's values lie in [2^52, 2^53): exponent field 0x433.
constexpr unsigned long long EXACT_TO_NAN = (0x7FFull ^ 0x433ull) << 52;

const char *const PATTERN_NAMES[PATTERN_COUNT] = {
    "full mantissas", "top exponents", "bottom exponents", "alternating bits",
    "sparse"};

bool pathHere(int path) { return availablePaths() & (1u << path); }

EngineOptions forced(int path, int kind, long units,
                     const FaultInjection &fault = {}) {
  EngineOptions o;
  o.l2Kb = SMALL_L2_KB;
  o.forcedPath = path;
  o.forcedKind = kind;
  o.maxUnits = units;
  o.fault = fault;
  return o;
}

struct EngineThread {
  int flag = 0;
  EngineOptions options;
  int result = -1;
};

uint32_t runEngineThread(void *param) {
  auto *t = static_cast<EngineThread *>(param);
  t->result = runEngine(&t->flag, t->options, nullptr);
  return 0;
}

ThreadHandle startPinned(EngineThread *t, int processor) {
  Platform &os = platform();
  ThreadHandle h = os.createThreadSuspended(runEngineThread, t);
  if (h && os.setThreadAffinityMask(h, CpuSet::single(processor)) &&
      os.resumeThread(h) != RESUME_FAILED)
    return h;
  return 0;
}

} // namespace

class EngineTest : public QObject {
  Q_OBJECT

private slots:
  void everyFlipIsCaughtInTheUnitItHits_data() {
    QTest::addColumn<EngineOptions>("options");
    QTest::addColumn<int>("expected");
    const std::pair<FaultInjection::Target, const char *> targets[] = {
        {FaultInjection::OPERAND_A, "operand A"},
        {FaultInjection::OPERAND_B, "operand B"},
        {FaultInjection::ACCUMULATOR, "accumulator"},
        {FaultInjection::RESULT, "result"}};
    // Lowest mantissa bits first; a high mantissa bit, the exponent, the
    // sign. The element moves so that every lane position gets a turn, and
    // the operand sets are renewed before every unit, so that the pattern
    // of the data changes with the bit.
    const int bits[] = {0, 1, 2, 3, 30, 51, 52, 62, 63};
    for (int path = 0; path < PATH_COUNT; ++path)
      for (int kind : {UNIT_EXACT, UNIT_RANDOM})
        for (const auto &[target, name] : targets)
          for (int i = 0; i < int(sizeof bits / sizeof *bits); ++i) {
            const int row = (i * 11 + path * 5) % 24, col = (i * 7 + path) % 64;
            const int pattern = i % PATTERN_COUNT;
            const bool operand = target == FaultInjection::OPERAND_A ||
                                 target == FaultInjection::OPERAND_B;
            // Unit u runs on renewal u, in pattern u; the units before the
            // one hit must pass, and a miss ends the run with 0 after one
            // more.
            EngineOptions o =
                forced(path, kind, pattern + 2,
                       {target, pattern, row, col, 1ull << bits[i]});
            o.renewEvery = 1;
            o.seed = 0x5EED0000 + bits[i];
            QTest::addRow("%s %s unit, %s, %s bit %d at (%d,%d)",
                          pathName(path),
                          kind == UNIT_EXACT ? "exact" : "random",
                          PATTERN_NAMES[pattern], name, bits[i], row, col)
                << o
                << int(operand              ? ENGINE_SELF_CHECK
                       : kind == UNIT_EXACT ? ENGINE_EXACT_MISMATCH
                                            : ENGINE_REPEAT_MISMATCH);
          }
  }
  void everyFlipIsCaughtInTheUnitItHits() {
    QFETCH(EngineOptions, options);
    QFETCH(int, expected);
    if (!pathHere(options.forcedPath))
      QSKIP("this processor does not have the path");
    int flag = 0;
    QCOMPARE(runEngine(&flag, options, nullptr), expected);
  }

  void cleanRunsReportNothingOnEveryProcessor_data() {
    QTest::addColumn<int>("path");
    QTest::addColumn<int>("kind");
    for (int path = 0; path < PATH_COUNT; ++path)
      for (int kind : {UNIT_EXACT, UNIT_RANDOM})
        QTest::addRow("%s %s units", pathName(path),
                      kind == UNIT_EXACT ? "exact" : "random")
            << path << kind;
    QTest::newRow("usual cycle of paths and kinds") << -1 << -1;
  }
  void cleanRunsReportNothingOnEveryProcessor() {
    QFETCH(int, path);
    QFETCH(int, kind);
    if (path >= 0 && !pathHere(path))
      QSKIP("this processor does not have the path");
    CpuSet processMask, systemMask;
    QVERIFY(platform().getProcessAffinityMask(&processMask, &systemMask));
    EngineThread threads[64];
    ThreadHandle handles[64] = {};
    static WorkerPage pages[64];
    for (int p = 0; p < 64; ++p) {
      if (!processMask.contains(p))
        continue;
      // The cycle needs 64 units to visit every path once. Every pattern
      // of data comes twice.
      threads[p].options = forced(path, kind, path < 0 ? 200 : 30);
      threads[p].options.renewEvery = path < 0 ? 20 : 3;
      // One seed: every processor must publish the same digests, and give
      // them again when asked to recompute the first renewal.
      pages[p] = WorkerPage{};
      pages[p].recheckRequest = 1;
      threads[p].options.seed = 0x5EED;
      threads[p].options.page = &pages[p];
      handles[p] = startPinned(&threads[p], p);
      QVERIFY(handles[p]);
    }
    const WorkerPage *first = nullptr;
    for (int p = 0; p < 64; ++p) {
      if (!handles[p])
        continue;
      QCOMPARE(platform().waitForThread(handles[p], 60000), WaitResult::Ended);
      platform().closeHandle(handles[p]);
      QCOMPARE(threads[p].result, int(ENGINE_STOPPED));
      const WorkerPage &page = pages[p];
      QCOMPARE(page.recheckAnswer, uint64_t(1));
      for (int t = 0; t < FAILURE_RETRIES; ++t)
        for (int k = 0; k < DIGEST_KIND_COUNT; ++k)
          QCOMPARE(page.recheckDigest[t][k], page.digests[0].digest[k]);
      QVERIFY(page.digests[0].digest[DIGEST_SEPARATE] != 0);
      QVERIFY(page.digests[1].tag == 2 &&
              page.digests[1].digest[DIGEST_SEPARATE] !=
                  page.digests[0].digest[DIGEST_SEPARATE]);
      if (!first)
        first = &page;
      for (int r = 0; r < WORKER_DIGEST_SLOTS; ++r)
        for (int k = 0; k < DIGEST_KIND_COUNT; ++k)
          QCOMPARE(page.digests[r].digest[k], first->digests[r].digest[k]);
    }
  }

  void renewedOperandsFollowTheirPattern_data() {
    QTest::addColumn<int>("pattern");
    QTest::addColumn<int>("refExponent");
    QTest::addColumn<int>("lowestExponent");
    QTest::addColumn<int>("highestExponent");
    QTest::addColumn<double>("zeroShare");
    QTest::addColumn<bool>("alternating");
    // Exponents of the nonzero operands of both kinds: random values from
    // 2^-2, exact ones up to 64; references in [2^52, 2^53) scaled.
    QTest::newRow("full mantissas")
        << int(FULL_MANTISSAS) << 52 << -2 << 6 << 0.01 << false;
    QTest::newRow("top exponents")
        << int(EXPONENT_TOP) << 1020 << -2 << 1009 << 0.01 << false;
    QTest::newRow("bottom exponents")
        << int(EXPONENT_BOTTOM) << 52 - 1016 << -1018 << 6 << 0.01 << false;
    QTest::newRow("alternating bits")
        << int(ALTERNATING_BITS) << 52 << -2 << 5 << 0.0 << true;
    QTest::newRow("sparse") << int(SPARSE) << 52 << -2 << 6 << 0.875 << false;
  }
  void renewedOperandsFollowTheirPattern() {
    QFETCH(int, pattern);
    QFETCH(int, refExponent);
    QFETCH(int, lowestExponent);
    QFETCH(int, highestExponent);
    QFETCH(double, zeroShare);
    QFETCH(bool, alternating);
    Geometry g = geometryFor(SMALL_L2_KB);
    Workspace w, other;
    QVERIFY(createWorkspace(g, false, &w) && createWorkspace(g, false, &other));
    fillOperands(&w, renewalSeed(1, pattern), pattern);
    fillOperands(&other, renewalSeed(2, pattern), pattern);
    long mk = long(g.m) * g.k, kn = long(g.k) * g.n;
    QVERIFY(std::memcmp(w.exact.a, other.exact.a, mk * 8) != 0);
    QVERIFY(std::memcmp(w.random.b, other.random.b, kn * 8) != 0);
    for (long i = 0; i < long(g.m) * g.n; ++i)
      QCOMPARE(std::ilogb(w.exactRef[i]), refExponent);
    int lowest = 9999, highest = -9999;
    long zeros = 0, values = 0, notAlternating = 0;
    for (const Operands *o : {&w.exact, &w.random})
      for (auto [v, n] : {std::make_pair(o->a, mk), std::make_pair(o->b, kn)})
        for (long i = 0; i < n; ++i, ++values) {
          if (v[i] == 0) {
            ++zeros;
            continue;
          }
          lowest = std::min(lowest, std::ilogb(v[i]));
          highest = std::max(highest, std::ilogb(v[i]));
          uint64_t bits;
          std::memcpy(&bits, &v[i], 8);
          uint64_t m = bits & ((1ull << 52) - 1);
          if (o == &w.random && m != 0x5555555555555 && m != 0xAAAAAAAAAAAAA)
            ++notAlternating;
        }
    QCOMPARE(lowest, lowestExponent);
    QCOMPARE(highest, highestExponent);
    QVERIFY2(std::abs(double(zeros) / values - zeroShare) < 0.02,
             qPrintable(QString::number(double(zeros) / values)));
    QCOMPARE(notAlternating == 0, alternating);
  }

  // Each code the engine returns, from a fault of its cause on the usual
  // cycle or from options it cannot run with.
  void eachCodeFromItsCause_data() {
    QTest::addColumn<bool>("withFlag");
    QTest::addColumn<EngineOptions>("options");
    QTest::addColumn<int>("expected");
    const auto cause = [](FaultInjection::Target target,
                          unsigned long long mask, int kind = -1) {
      return forced(-1, kind, 3, {target, 2, 7, 9, mask});
    };
    EngineOptions refused = forced(-1, -1, 1);
    refused.failAllocation = true;
    QTest::newRow("1: exact result off by its lowest bit")
        << true << cause(FaultInjection::RESULT, 1, UNIT_EXACT)
        << int(ENGINE_EXACT_MISMATCH);
    QTest::newRow("2: random partial sum off by its lowest bit")
        << true << cause(FaultInjection::ACCUMULATOR, 1, UNIT_RANDOM)
        << int(ENGINE_REPEAT_MISMATCH);
    QTest::newRow("3: result turned into NaN")
        << true << cause(FaultInjection::RESULT, EXACT_TO_NAN, UNIT_EXACT)
        << int(ENGINE_NOT_FINITE);
    QTest::newRow("4: operand changed under the unit")
        << true << cause(FaultInjection::OPERAND_B, 1, UNIT_RANDOM)
        << int(ENGINE_SELF_CHECK);
    QTest::newRow("5: allocation refused")
        << true << refused << int(ENGINE_ALLOCATION);
    QTest::newRow("6: no stop flag handed over")
        << false << forced(-1, -1, 1) << int(ENGINE_INITIALISATION);
    QTest::newRow("6: path unknown")
        << true << forced(PATH_COUNT, -1, 1) << int(ENGINE_INITIALISATION);
    QTest::newRow("6: kind unknown")
        << true << forced(-1, 2, 1) << int(ENGINE_INITIALISATION);
    QTest::newRow("6: fault outside the matrices")
        << true << forced(-1, -1, 1, {FaultInjection::RESULT, 0, 24, 0, 1})
        << int(ENGINE_INITIALISATION);
  }
  void eachCodeFromItsCause() {
    QFETCH(bool, withFlag);
    QFETCH(EngineOptions, options);
    QFETCH(int, expected);
    int flag = 0;
    QCOMPARE(runEngine(withFlag ? &flag : nullptr, options, nullptr), expected);
  }

  void theFailureRecordTellsWhatFailed_data() {
    QTest::addColumn<EngineOptions>("options");
    QTest::addColumn<int>("check");
    const auto row = [](const char *name, int kind,
                        FaultInjection::Target target, unsigned long long mask,
                        int retriesHit, int check) {
      // Unit 5 runs on renewal 5, whose pattern is full mantissas again.
      EngineOptions o =
          forced(PATH_SSE2, kind, 6, {target, 5, 3, 17, mask, retriesHit});
      o.renewEvery = 1;
      o.seed = 0x5EED;
      QTest::newRow(name) << o << check;
    };
    row("exact result off by one bit, gone when recomputed", UNIT_EXACT,
        FaultInjection::RESULT, 1, 0, FAILURE_EXACT);
    row("random partial sum, back every time", UNIT_RANDOM,
        FaultInjection::ACCUMULATOR, 8, 3, FAILURE_REPEAT);
    row("result turned into NaN, back once", UNIT_EXACT, FaultInjection::RESULT,
        EXACT_TO_NAN, 1, FAILURE_NOT_FINITE);
    row("operand changed under the unit, back twice", UNIT_RANDOM,
        FaultInjection::OPERAND_B, 1, 2, FAILURE_OPERAND_SUMS);
  }
  void theFailureRecordTellsWhatFailed() {
    QFETCH(EngineOptions, options);
    QFETCH(int, check);
    int flag = 0;
    WorkerPage page;
    options.page = &page;
    QCOMPARE(runEngine(&flag, options, nullptr), check);
    const FailureRecord &r = page.failure;
    const FaultInjection &fault = options.fault;
    // The operand sums name no element.
    const bool element = check != FAILURE_OPERAND_SUMS;
    QCOMPARE(int(r.check), check);
    QCOMPARE(r.path, int(PATH_SSE2));
    QCOMPARE(r.kind, options.forcedKind);
    QCOMPARE(r.renewal, int64_t(5));
    QCOMPARE(r.renewalSeed, renewalSeed(0x5EED, 5));
    QCOMPARE(r.row, element ? 3 : -1);
    QCOMPARE(r.col, element ? 17 : -1);
    QVERIFY(r.expected != r.obtained);
    if (!element) // the words' sum moved by the flip
      QVERIFY(r.obtained - r.expected == 1 || r.expected - r.obtained == 1);
    else if (fault.target == FaultInjection::RESULT)
      QCOMPARE(r.expected ^ r.obtained, fault.mask);
    QCOMPARE(r.differing, element ? 1ull : 0ull);
    QCOMPARE(r.elements, element ? 24ull * 64 : 0ull);
    QVERIFY(r.elapsedNs > 0);
    QCOMPARE(r.retries, FAILURE_RETRIES);
    QCOMPARE(r.reproduced, fault.retriesHit);
  }

  void pathsTheProcessorLacksAreRefused() {
    for (int path = 0; path < PATH_COUNT; ++path)
      if (!pathHere(path)) {
        int flag = 0;
        QCOMPARE(runEngine(&flag, forced(path, -1, 1), nullptr),
                 int(ENGINE_INITIALISATION));
      }
    QVERIFY(pathHere(PATH_SSE2));
  }

  void sizesFollowTheCacheWithinBounds_data() {
    QTest::addColumn<int>("l2Kb");
    QTest::addColumn<int>("rows");
    QTest::newRow("unknown cache: default of 1 MB") << 0 << 48;
    QTest::newRow("negative: default") << -512 << 48;
    QTest::newRow("absurdly large: default") << (1 << 30) << 48;
    QTest::newRow("2 MB") << 2048 << 96;
    QTest::newRow("small cache: smallest size") << 64 << 24;
    QTest::newRow("32 MB: largest size") << 32768 << 480;
  }
  void sizesFollowTheCacheWithinBounds() {
    QFETCH(int, l2Kb);
    QFETCH(int, rows);
    Geometry g = geometryFor(l2Kb);
    QCOMPARE(g.m, rows);
    QCOMPARE(g.m % 24, 0);
    QVERIFY(workspaceBytes(g) <= 5632l * 1024);
  }

  void widestPathMostOfTheTimeNarrowerInTurn() {
    unsigned all = (1u << PATH_COUNT) - 1;
    int count[PATH_COUNT] = {};
    for (long u = 0; u < 64 * 30; ++u)
      ++count[scheduledPath(u, all)];
    QCOMPARE(count[PATH_AVX512], 64 * 30 - 30);
    QCOMPARE(count[PATH_SSE2], 10);
    QCOMPARE(count[PATH_AVX], 10);
    QCOMPARE(count[PATH_AVX2_FMA], 10);
    QCOMPARE(scheduledPath(63, 1u << PATH_SSE2), int(PATH_SSE2));
    int kinds[2] = {};
    for (long u = 0; u < 64 * 30; ++u)
      ++kinds[scheduledKind(u)];
    QCOMPARE(kinds[UNIT_EXACT], kinds[UNIT_RANDOM]);
  }

  // Every level of every workload: a clean run passes, one flipped bit in
  // one result word of one unit ends the run with the workload's code and a
  // record of the workload, its level, the word's bits and the retries,
  // which the flip, hitting once, does not come back in.
  void everyWorkloadCatchesAFlippedResultBit_data() {
    QTest::addColumn<int>("workload");
    QTest::addColumn<int>("level");
    QTest::addColumn<long>("word");
    QTest::addColumn<int>("bit");
    // Coherence needs two processes: betweenTwoProcesses.
    for (int kind = 0; kind < WORKLOAD_COHERENCE; ++kind) {
      std::unique_ptr<Workload> w = makeWorkload(kind, 1 << 20);
      for (int level = 0; level < LEVEL_COUNT; ++level) {
        if (std::strcmp(w->levelName(level), "?") == 0)
          continue;
        long word = 37 * kind + 11 * level;
        int bit = (13 * kind + 29 * level) % 64;
        QTest::addRow("%s on %s, word %ld bit %d", workloadNames(kind).key,
                      w->levelName(level), word, bit)
            << kind << level << word << bit;
      }
    }
  }
  void everyWorkloadCatchesAFlippedResultBit() {
    QFETCH(int, workload);
    QFETCH(int, level);
    QFETCH(long, word);
    QFETCH(int, bit);
    if (!(makeWorkload(workload, 1 << 20)->levels() & (1u << level)))
      QSKIP("this processor does not have the level");
    int flag = 0;
    EngineOptions o;
    o.forcedWorkload = workload;
    o.forcedLevel = level;
    o.maxUnits = 3;
    o.seed = 0x5EED + word;
    auto page = std::make_unique<WorkerPage>();
    o.page = page.get();
    QCOMPARE(runEngine(&flag, o, nullptr), int(ENGINE_STOPPED));
    o.workloadFault.unit = 1;
    o.workloadFault.word = word;
    o.workloadFault.mask = 1ull << bit;
    QCOMPARE(runEngine(&flag, o, nullptr),
             int(ENGINE_WORKLOAD_MISMATCH) + workload);
    const FailureRecord &r = page->failure;
    QCOMPARE(r.check, uint32_t(FAILURE_WORKLOAD));
    QCOMPARE(r.kind, workload);
    QCOMPARE(QString(r.level),
             QString(makeWorkload(workload, 1 << 20)->levelName(level)));
    // The last-level cache compares checksums of what it read.
    if (workload != WORKLOAD_LAST_LEVEL)
      QCOMPARE(r.expected ^ r.obtained, 1ull << bit);
    QCOMPARE(r.retries, FAILURE_RETRIES);
    QCOMPARE(r.reproduced, 0);
  }

  // The full load gives every workload its slices beside the matrix units;
  // the floating-point load gives them none.
  void loadsGiveTheWorkloadsTheirTurns_data() {
    QTest::addColumn<bool>("fpOnly");
    QTest::newRow("full") << false;
    QTest::newRow("floating point only") << true;
  }
  void loadsGiveTheWorkloadsTheirTurns() {
    QFETCH(bool, fpOnly);
    EngineThread t;
    t.options.l2Kb = SMALL_L2_KB;
    t.options.fpOnly = fpOnly;
    t.options.sliceSeconds = 0.01;
    EngineCounters counters = {};
    unsigned long long shared[WORKER_COUNTER_COUNT] = {};
    t.options.verifiedFlops = shared;
    std::thread run(
        [&] { t.result = runEngine(&t.flag, t.options, &counters); });
    // Two turns of every workload: 2 x 8 x 8 slices.
    QTest::qWait(2000);
    setStopFlagLowByte(&t.flag, 1);
    run.join();
    QCOMPARE(t.result, int(ENGINE_STOPPED));
    QVERIFY(shared[scheduledPath(0, availablePaths())] > 0);
    for (int kind = 0; kind < WORKER_WORKLOAD_COUNT; ++kind) {
      uint64_t work = shared[WORKER_PATH_COUNT + kind];
      // Coherence has no partner here, and leaves its turn to the matrix.
      bool partnered = kind == WORKLOAD_COHERENCE;
      QVERIFY2((work > 0) != (fpOnly || partnered), workloadNames(kind).key);
      QCOMPARE(work, counters.work[kind]);
      if (!partnered)
        QCOMPARE(work % makeWorkload(kind, 1 << 20)->workPerUnit(), 0ull);
    }
  }

  // Two processes work together through the run's region, as two workers
  // do: clean, both receive; a message repeated or torn on its way, or an
  // encryption that its own processor's decryption would undo, ends the
  // receiver's run with the workload's code and a record naming the sender
  // and the first word wrong.
  void betweenTwoProcesses_data() {
    QTest::addColumn<int>("workload");
    QTest::addColumn<long>("unit");
    QTest::addColumn<long>("word");
    QTest::addColumn<qulonglong>("mask");
    QTest::addColumn<int>("firstWrong");
    const int coherence = WORKLOAD_COHERENCE, aes = WORKLOAD_AES;
    QTest::newRow("coherence clean") << coherence << 1L << 0L << 0ull << -1;
    QTest::newRow("message number repeated")
        << coherence << 1L << 0L << 1ull << 0;
    QTest::newRow("message payload torn")
        << coherence << 1L << 3L << (1ull << 40) << 3;
    QTest::newRow("message sum torn")
        << coherence << 1L << 7L << (1ull << 63) << 7;
    QTest::newRow("AES clean") << aes << 0L << 0L << 0ull << -1;
    // A wrong bit in block 5 garbles the whole block when decrypted.
    QTest::newRow("AES decrypted on the other processor")
        << aes << 0L << 11L << (1ull << 17) << 10;
  }
  void betweenTwoProcesses() {
    QFETCH(int, workload);
    QFETCH(long, unit);
    QFETCH(long, word);
    QFETCH(qulonglong, mask);
    QFETCH(int, firstWrong);
    RunRegion *region = platform().openRunRegion(2);
    QVERIFY(region);
    struct Shared {
      int stop;
      WorkerPage page[2];
      unsigned long long counts[2][WORKER_COUNTER_COUNT];
    };
    void *mapping = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE,
                         MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    QVERIFY(mapping != MAP_FAILED);
    Shared *shared = new (mapping) Shared{};
    pid_t child[2];
    for (int i = 0; i < 2; ++i) {
      child[i] = fork();
      if (child[i] == 0) {
        EngineOptions o;
        o.forcedWorkload = workload;
        o.seed = 0x5EED;
        o.partner = {region, i};
        o.page = &shared->page[i];
        o.verifiedFlops = shared->counts[i];
        // Worker 0 sends to worker 1.
        if (i == 0 && mask)
          o.workloadFault = {unit, word, mask};
        _exit(runEngine(&shared->stop, o, nullptr));
      }
      QVERIFY(child[i] > 0);
    }
    auto received = [&](int i) {
      return __atomic_load_n(&shared->counts[i][WORKER_PATH_COUNT + workload],
                             __ATOMIC_RELAXED);
    };
    auto oneEnded = [] {
      siginfo_t info{};
      return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
             info.si_pid != 0;
    };
    QElapsedTimer waited;
    waited.start();
    while ((received(0) < 100000 || received(1) < 100000) && !oneEnded() &&
           waited.elapsed() < 30000)
      QTest::qSleep(10);
    setStopFlagLowByte(&shared->stop, 1);
    int status[2];
    for (int i = 0; i < 2; ++i)
      QCOMPARE(waitpid(child[i], &status[i], 0), child[i]);
    const FailureRecord record = shared->page[1].failure;
    const unsigned long long counts[2] = {received(0), received(1)};
    munmap(mapping, sizeof(Shared));
    platform().openRunRegion(0);
    QCOMPARE(WEXITSTATUS(status[0]), int(ENGINE_STOPPED));
    if (!mask) {
      QCOMPARE(WEXITSTATUS(status[1]), int(ENGINE_STOPPED));
      QVERIFY(counts[0] >= 100000 && counts[1] >= 100000);
      return;
    }
    QCOMPARE(WEXITSTATUS(status[1]), int(ENGINE_WORKLOAD_MISMATCH) + workload);
    QCOMPARE(record.check, uint32_t(FAILURE_WORKLOAD));
    QCOMPARE(record.kind, workload);
    QCOMPARE(record.partner, 0);
    QCOMPARE(record.col, firstWrong);
  }

  void returnsPromptlyOnceTheFlagIsRaised() {
    EngineThread t;
    t.options.l2Kb = 1024;
    ThreadHandle h = platform().createThreadSuspended(runEngineThread, &t);
    QVERIFY(h);
    QVERIFY(platform().resumeThread(h) != RESUME_FAILED);
    QCOMPARE(platform().waitForThread(h, 300), WaitResult::TimedOut);
    QElapsedTimer timer;
    timer.start();
    setStopFlagLowByte(&t.flag, 1);
    QCOMPARE(platform().waitForThread(h, 5000), WaitResult::Ended);
    qint64 ms = timer.elapsed();
    platform().closeHandle(h);
    QCOMPARE(t.result, int(ENGINE_STOPPED));
    // The bench measures the latency; this bound only catches an engine
    // that no longer polls the flag.
    QVERIFY2(ms < 1000, qPrintable(QString("%1 ms").arg(ms)));
  }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"

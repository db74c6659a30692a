#pragma once

#include "sysinfo/SystemInfo.h"

#include <QString>
#include <QTime>

#include <vector>

// What a run loads, and when.
enum class TestModeKind {
  AllProcessors = 0, // every worker all the time
  PerCore = 1,       // one core at a time, the others idle
  Alternating = 2,   // all workers, then none, in a varying rhythm
};

struct TestMode {
  TestModeKind kind = TestModeKind::AllProcessors;
  int coreMinutes = 6;      // per-core: test time on each core
  bool everyThread = false; // per-core: one worker per hardware thread of
                            // the core, else one worker on its first
};

// The machine's cores, each as the indices in Processor (and so of the
// workers) of its logical processors, in order of their first processor.
// Without APIC identifiers every processor is a core of its own.
std::vector<std::vector<int>> coresOf(const SystemInfo &info);

// Per-core: the core loaded at a test time; the cores take turns of
// coreMinutes each, over and over.
int coreAt(const QTime &testTime, int coreMinutes, int coreCount);

// Alternating: whether the workers run during supervision interval n (0
// from the start to the first tick, then between ticks). Runs and pauses of
// a few seconds, of lengths that change from one to the next.
bool alternatingRuns(int interval);

// "processeur logique 3", "processeurs logiques 2, 10".
QString logicalProcessorsText(const SystemInfo &info,
                              const std::vector<int> &core);

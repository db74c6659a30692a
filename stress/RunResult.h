#pragma once

#include "platform/Platform.h"
#include "sensors/SensorStatistics.h"

#include <QStringList>
#include <QTime>

#include <vector>

// How a run ended, from the user's point of view.
enum class RunVerdict {
  Stable,      // "Votre PC est stable !"
  Unstable,    // calculation error, processor crash, hardware error counters
  Usage,       // processor usage outside 90-100 %: the run proves nothing
  Temperature, // stopped at the temperature limit
  Stopped,     // stopped by the user before a verdict, or a worker stopped
               // or was killed from outside
  Failed,      // the tester failed (a worker's error, a worker unreadable)
};

// How one worker ended. What else is learnt of a worker's end belongs here,
// so that every reader of the run gets it from the same place.
struct WorkerResult {
  // Its processor: an index in the machine's Processor, -1 for a worker
  // that could not be started.
  int entry = -1;
  // Its exit code once the workers had their second to end, STILL_ACTIVE
  // when it never ended; signal is what killed it, 0 if nothing did.
  uint32_t code = STILL_ACTIVE;
  int signal = 0;
  // The arithmetic it verified: at the stop, what the "Calculs vérifiés"
  // line sums; once the workers ended, with the units they finished since.
  WorkerCounters verified;
  // The record of the failure it found, or the one the comparison between
  // processors made for it; kind FAILURE_NONE when there is none.
  FailureRecord failure;
};

// Everything a run's end established, handed out once: the window's log
// lines, the desktop notice, the graph and the headless report are all made
// from it, so they cannot tell different stories.
struct RunResult {
  RunVerdict verdict = RunVerdict::Stopped;
  QTime testTime;
  double usage = 0; // the loaded workers' average, per cent
  // The lines that state the end, the verdict last, and whether it is a
  // failure: what the desktop notice says.
  QStringList endLines;
  bool failure = false;
  std::vector<WorkerResult> workers;
  SensorStatistics temperature; // °C
  SensorStatistics vcore;       // V
  // Whether the kernel had error counters to watch, and those that rose.
  bool hardwareErrorsWatched = false;
  std::vector<ErrorCounter> hardwareErrorRises;
};

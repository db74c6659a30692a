#pragma once

#include <QString>
#include <QTime>

#include <cstdint>

// The arithmetic of a run, apart from the window: how one worker's tick is
// measured, the run's average usage, the elapsed-time words and what a
// worker's exit code means.

// One worker over one supervision tick.
struct WorkerUsage {
  int64_t creditedMs; // wall-clock milliseconds that count as test time
  double percent;
};

// wallMs: time since the worker's previous sample; userDelta100ns: user-mode
// time it obtained meanwhile. When the wall-clock interval exceeds the
// processor time by more than ten seconds (the machine slept), only the
// processor time counts, and it counts as full usage.
WorkerUsage MeasureWorker(int64_t wallMs, uint64_t userDelta100ns);

// Average usage of a run in per cent: the workers' summed user time against
// the test time and the number of workers; 0 for an empty run.
double AverageUsage(uint64_t userTimeSum100ns, int64_t testMs,
                    int logicalCount);

// Milliseconds of a test time.
int64_t TestMilliseconds(const QTime &testTime);

// "2 heures 2 minutes 2 secondes", "1 minute 0 seconde", "59 secondes".
QString ElapsedText(const QTime &testTime);

// What the end of a worker with exit code `code`, or killed by `signal`,
// tells the user. A worker that crashed on its own (SIGSEGV, SIGILL, SIGBUS,
// SIGFPE, abort...) is a processor that failed, like a calculation error;
// one killed from outside (SIGKILL, SIGTERM...) says nothing of it.
struct WorkerEnd {
  bool reported = false;    // false for codes with nothing to report
  bool calculation = false; // the processor failed (codes 1 to 4, crashes)
  bool fromOutside = false; // killed from outside: the run has no verdict
  QString line;             // names the worker and the error
};
// partner: the other worker of a failure between two, or -1.
WorkerEnd DescribeWorkerEnd(int worker, uint32_t code, int signal = 0,
                            int partner = -1);

// Colours of the log pane's verdicts.
#define COLOUR_STABLE "#6D2"
#define COLOUR_STOPPED "#FB2"  // stopped, or failed without a calculation error
#define COLOUR_UNSTABLE "#F43" // calculation error

// Tray tool tips.
#define TOOLTIP_IDLE "Vorsk 1.0.4"
#define TOOLTIP_FAILED "Echec du test !"
#define TOOLTIP_UNSTABLE "PC instable !"
#define TOOLTIP_FINISHED "Test terminé."

#pragma once

#include "app/HeadlessOptions.h"
#include "stress/RunController.h"
#include "stress/RunReport.h"

#include <QFile>
#include <QObject>
#include <QTextStream>

// How a run's verdict reads on the command line. A run stopped by a signal
// is interrupted unless it already found the processor unstable; a stop that
// nobody asked for (a worker killed from outside) leaves nothing tested.
RunOutcome headlessOutcome(RunVerdict verdict, bool interrupted);

// The report's parts that a run's result gives: its test time, workers,
// sensor statistics (named after the source of `sensors`) and hardware
// error rises.
void reportResult(const RunResult &result, const SystemInfo &machine,
                  const SensorChoice &sensors, RunReport *report);

// One test with no window: the controller driven to the end of a run, each
// log line printed as it comes, the run's result written as the report.
class HeadlessRun : public QObject {
  Q_OBJECT

public:
  // Log lines go to out, the runner's own failures to err.
  HeadlessRun(const HeadlessOptions &options, QTextStream &out,
              QTextStream &err);

  // Identifies the machine and starts the run; false when nothing can be
  // tested: the report is written and ExitCode() says so already.
  bool Start();
  int ExitCode() const { return outcomeExitCode(Report.outcome); }
  // Ends the run as interrupted (a termination request).
  void Interrupt();

signals:
  // The run is over, its report written: the program's exit code.
  void finished(int exitCode);

private:
  void Print(const QString &line);
  void Complain(const QString &text);
  // Each minute of the all-processors mode, a progress line.
  void Progress(const RunTick &tick);
  void Finish(RunOutcome outcome);

  HeadlessOptions Options;
  QTextStream &Out;
  QTextStream &Err;
  QFile LogFile;
  RunController Controller;
  RunReport Report;
  // The last sensor reading, for the progress lines.
  double Temperature = NO_READING;
  bool ProgressEachMinute = false;
  double MinuteUsage = 0;
  int MinuteTicks = 0;
  bool Interrupted = false;
};

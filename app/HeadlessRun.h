#pragma once

#include "app/HeadlessOptions.h"
#include "stress/RunController.h"
#include "stress/RunReport.h"

#include <QFile>
#include <QObject>
#include <QTextStream>

#include <vector>

// How a run's verdict reads on the command line. A run stopped by a signal
// is interrupted unless it already found the processor unstable; a stop that
// nobody asked for (a worker killed from outside) leaves nothing tested.
RunOutcome headlessOutcome(RunVerdict verdict, bool interrupted);

// One test with no window: the controller driven to the end of a run, each
// log line printed as it comes, the report gathered and written.
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
  void Sample(const RunTick &tick);
  void Finish(RunOutcome outcome);

  struct Statistics {
    double minimum = 0, sum = 0, maximum = 0;
    int count = 0;
    void add(double value);
  };

  HeadlessOptions Options;
  QTextStream &Out;
  QTextStream &Err;
  QFile LogFile;
  RunController Controller;
  RunReport Report;
  std::vector<ErrorCounter> ErrorsAtStart;
  Statistics Temperature, Vcore;
  bool ProgressEachMinute = false;
  double MinuteUsage = 0;
  int MinuteTicks = 0;
  bool Interrupted = false;
  bool Started = false;
};

#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

// The log of the run in progress, kept on disk as it grows: a machine that
// freezes or restarts during a run loses at most the last second of it, and
// the next start shows the run that never ended. One record per line:
// "L <log line>" or "T <test time hh:mm:ss>".
class RunJournal {
public:
  // Named after the machine: nodes sharing a home folder keep their own,
  // and one node's end never removes another's record of a freeze.
  static QString fileName();

  // A new run: a new journal. False when it cannot be written.
  bool begin();
  // Appends a log line, on disk before this returns. Nothing outside a run.
  void add(const QString &line);
  // Records the test time reached, on disk before the next tick.
  void tick(const QTime &testTime);
  // The run ended and its log is in the pane: the journal goes.
  void end();

  struct Interrupted {
    QStringList lines;
    QTime testTime; // the last one recorded
    // Its lines, then the one that judges it: what a start shows of it.
    QStringList shownLines() const;
  };
  // The run a previous start left unfinished; false when there is none.
  static bool findInterrupted(Interrupted *run);
  static void discard();

private:
  bool write(const QString &records);
  bool active_ = false;
};

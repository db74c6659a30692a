#pragma once

#include "platform/Platform.h"

#include <QStringList>

#include <vector>

// The kernel's hardware error counters over one run. A corrected error is
// still an error the processor or the memory made: any rise during a run is
// a hardware failure, whatever the calculations gave.
class ErrorWatch {
public:
  // Takes the counters at the start of a run.
  void Start();
  // True when a counter read now is above its start.
  bool Rose() const;
  // Whether there were counters to watch at the start.
  bool Watched() const { return !start_.empty(); }
  // The rise of every counter watched since the start.
  std::vector<ErrorCounter> Rises() const;

private:
  std::vector<ErrorCounter> start_;
};

// The rise of every counter known at the start; counters that appeared
// since are left out (their past is not this run's), as are counters that
// were reset.
std::vector<ErrorCounter> errorRises(const std::vector<ErrorCounter> &start,
                                     const std::vector<ErrorCounter> &now);

// The lines of the end of a run: one per counter that rose, with its rises
// and source, or the one line saying that nothing could be watched.
QStringList hardwareErrorLines(bool watched,
                               const std::vector<ErrorCounter> &rises);

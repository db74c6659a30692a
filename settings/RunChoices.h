#pragma once

#include "platform/Platform.h"

#include <QString>

// The values behind the window's priority and duration choices, by the
// index stored under "Priority" and "Duration".
constexpr uint32_t PriorityClasses[3] = {ABOVE_NORMAL_PRIORITY_CLASS,
                                         NORMAL_PRIORITY_CLASS,
                                         BELOW_NORMAL_PRIORITY_CLASS};
constexpr int DurationSeconds[10] = {0,     3600,  7200,  10800, 14400,
                                     21600, 28800, 43200, 57600, 72000};

// The choice whose class is in force; normal for any other class.
inline int priorityIndex(uint32_t priorityClass) {
  for (int i = 0; i < 3; ++i)
    if (PriorityClasses[i] == priorityClass)
      return i;
  return 1;
}

// The log line of a refused priority change: raising the class needs the
// administrator's rights.
inline QString priorityRefusalLine(int asked, int inForce) {
  return asked < inForce
             ? QString::fromUtf8("Set Priority Class Error : élever la "
                                 "priorité demande les droits "
                                 "d'administrateur.")
             : QString("Set Priority Class Error.");
}

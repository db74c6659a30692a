// The main window's identification methods: the logic lives in sysinfo/,
// the window supplies its log pane and its warning boxes.
#include "app/Vorsk.h"

#include "sysinfo/Frequency.h"
#include "sysinfo/Identification.h"
#include "sysinfo/SystemSummary.h"

#include <QMessageBox>

int Vorsk::CpuCount() { return sysinfo::CpuCount(); }

int Vorsk::CheckInstructions() { return sysinfo::CheckInstructions(); }

void Vorsk::SetCorrectBrandString(char *name) {
  sysinfo::SetCorrectBrandString(name);
}

int Vorsk::CheckCpuType() { return sysinfo::CheckCpuType(); }

int Vorsk::MeasureFrequency() { return sysinfo::MeasureFrequency(); }

int Vorsk::InitialiseSystem() {
  sysinfo::SystemReport report{
      [this](const QString &line) { AppendLog(line); },
      [this](const QString &text) {
        QMessageBox::warning(this, "Vorsk 1.0.4", tr(text.toUtf8().constData()),
                             QMessageBox::Ok);
      }};
  return sysinfo::InitialiseSystem(&ProcessAffinityMask, report);
}

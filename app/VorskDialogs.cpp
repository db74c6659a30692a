// The window's dialogs: About and Options.
#include "app/Vorsk.h"

#include "about/About.h"
#include "about/Diagnostic.h"
#include "settings/DataFolder.h"
#include "settings/Options.h"
#include "sysinfo/CpuPrimitives.h"
#include "sysinfo/SystemInfo.h"

void Vorsk::ShowAbout() {
  const QString diagnostic = DiagnosticText(
      QString::fromLatin1(m_SystemInfo.ProcessorName),
      [](uint32_t leaf) {
        Cpuid(leaf, 0);
        return CpuidRegisters{i_eax, i_ebx, i_ecx, i_edx};
      },
      dataFolderLine() + "\n" + ui.textLog->toPlainText());
  About about(diagnostic, this);
  about.exec();
}

void Vorsk::ShowOptions() {
  // The dialog probes the sources itself; no reading may overlap it.
  Run.SuspendSensors();
  SensorChoice sensors = Run.Sensors();
  int maxTemp = Run.MaxTemperature();
  Options options(this, [this](const QString &style, bool palette) {
    ChangeStyle(style, palette);
  });
  if (options.exec() == 1) {
    Shutdown = options.Shutdown;
    SuccesSound = options.SuccesSound;
    FailedSound = options.FailedSound;
    sensors = {options.Monitoring, options.TempSensor, options.VoltSensor,
               options.ExportTXT};
    maxTemp = options.MaxTemp;
    Run.SetMode(options.Mode);
  }
  Run.SetSensors(sensors, maxTemp);
}

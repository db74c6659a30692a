#include "about/About.h"
#include "about/Diagnostic.h"
#include "app/Vorsk.h"
#include "settings/DataFolder.h"
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

#include "about/Diagnostic.h"

#include <algorithm>

namespace {

void AppendLeaves(QString &text, const CpuidReader &cpuid, uint32_t header) {
  const uint32_t highest = cpuid(header).eax;
  if (highest <= header)
    return;
  const uint32_t count = std::min(highest - header, MaxListedLeaves);
  for (uint32_t leaf = header + 1; leaf <= header + count; ++leaf) {
    const CpuidRegisters r = cpuid(leaf);
    text += QString::asprintf("%08X : %08X %08X %08X %08X\n", leaf, r.eax,
                              r.ebx, r.ecx, r.edx);
  }
}

} // namespace

QString DiagnosticText(const QString &processorName, const CpuidReader &cpuid,
                       const QString &log) {
  QString text = processorName + "\n\n";
  AppendLeaves(text, cpuid, 0);
  AppendLeaves(text, cpuid, 0x80000000u);
  text += QString(52, '_') + "\n\n";
  return text + log;
}

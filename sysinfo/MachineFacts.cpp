#include "sysinfo/MachineFacts.h"

#include "platform/CpuAccess.h"
#include "platform/Platform.h"

#include <QRegularExpression>
#include <QStringList>

#include <map>

namespace sysinfo {

namespace {

// The kernel writes a revision as "0x" and hexadecimal digits.
QString revisionOrEmpty(const QString &text) {
  static const QRegularExpression hex("^0x[0-9a-fA-F]+$");
  const QString trimmed = text.trimmed();
  return hex.match(trimmed).hasMatch() ? trimmed : QString();
}

// The "microcode" line of each processor's block of /proc/cpuinfo.
std::map<int, QString> cpuInfoRevisions() {
  std::string text;
  std::map<int, QString> revisions;
  if (!platform().readKernelText("/proc/cpuinfo", &text))
    return revisions;
  int processor = -1;
  for (const QString &line : QString::fromStdString(text).split('\n')) {
    const int colon = line.indexOf(':');
    if (colon < 0)
      continue;
    const QString key = line.left(colon).trimmed();
    const QString value = line.mid(colon + 1);
    if (key == "processor") {
      bool number = false;
      processor = value.trimmed().toInt(&number);
      if (!number)
        processor = -1;
    } else if (key == "microcode" && processor >= 0)
      revisions[processor] = revisionOrEmpty(value);
  }
  return revisions;
}

} // namespace

std::vector<Microcode> microcodeRevisions(const CpuSet &processors) {
  std::vector<Microcode> revisions;
  std::map<int, QString> fromCpuInfo;
  bool cpuInfoRead = false;
  for (int cpu : processors.members()) {
    std::string text;
    QString revision;
    if (platform().readKernelText("/sys/devices/system/cpu/cpu" +
                                      std::to_string(cpu) +
                                      "/microcode/version",
                                  &text))
      revision = revisionOrEmpty(QString::fromStdString(text));
    if (revision.isEmpty()) {
      if (!cpuInfoRead)
        fromCpuInfo = cpuInfoRevisions();
      cpuInfoRead = true;
      revision = fromCpuInfo[cpu];
    }
    revisions.push_back({cpu, revision});
  }
  return revisions;
}

bool hypervisorPresent() { return cpuAccess().cpuid(1, 0).ecx >> 31 & 1; }

QString hypervisorVendor() {
  if (!hypervisorPresent())
    return {};
  const CpuidResult leaf = cpuAccess().cpuid(0x40000000, 0);
  QString vendor;
  for (uint32_t word : {leaf.ebx, leaf.ecx, leaf.edx})
    for (int byte = 0; byte < 4; ++byte) {
      const char c = char(word >> (8 * byte) & 0xFF);
      if (c == '\0')
        return vendor.trimmed();
      // Text for a report: anything unprintable is not a name.
      if (c < ' ' || c > '~')
        return {};
      vendor += QChar(c);
    }
  return vendor.trimmed();
}

} // namespace sysinfo

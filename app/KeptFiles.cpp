#include "app/KeptFiles.h"

#include "settings/SettingsKeys.h"

#include <QFileInfo>

namespace {
const char LogFile[] = "Event.log";

// Both are saved through a new file renamed over the old one, which needs
// the folder even when the file exists.
bool replaceable(const char *name) {
  const QFileInfo file(name);
  return QFileInfo(file.absolutePath()).isWritable() &&
         (!file.exists() || (file.isFile() && file.isWritable()));
}
} // namespace

QStringList unkeptFileLines() {
  QStringList lines;
  if (!replaceable(LogFile))
    lines << QString::fromUtf8("Écriture impossible dans le dossier de "
                               "travail : le journal (%1) ne sera pas "
                               "conservé.")
                 .arg(LogFile);
  if (!replaceable(SETTINGS_FILE))
    lines << QString::fromUtf8("Écriture impossible dans le dossier de "
                               "travail : les réglages (%1) ne seront pas "
                               "conservés.")
                 .arg(SETTINGS_FILE);
  return lines;
}

QStringList lostFileLines(bool logLost, bool settingsLost) {
  QStringList lines;
  if (logLost)
    lines << QString::fromUtf8("%1 n'a pas pu être écrit dans le dossier de "
                               "travail : le journal est perdu.")
                 .arg(LogFile);
  if (settingsLost)
    lines << QString::fromUtf8("%1 n'a pas pu être écrit dans le dossier de "
                               "travail : les réglages ne sont pas "
                               "conservés.")
                 .arg(SETTINGS_FILE);
  return lines;
}

#include "settings/DataFolder.h"

#include "settings/SettingsKeys.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
// Permission bits do not say it for root or on a read-only mount: try.
bool canCreateFileIn(const QString &folder) {
  QTemporaryFile probe(QDir(folder).filePath("vorsk-XXXXXX"));
  return probe.open();
}
} // namespace

QString chooseDataFolder(const QString &workingFolder,
                         const QString &userDataFolder) {
  if (QFileInfo::exists(QDir(workingFolder).filePath(SETTINGS_FILE)) &&
      canCreateFileIn(workingFolder))
    return workingFolder;
  if (QDir().mkpath(userDataFolder) && canCreateFileIn(userDataFolder))
    return userDataFolder;
  return workingFolder;
}

void enterDataFolder() {
  QDir::setCurrent(chooseDataFolder(
      QDir::currentPath(),
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));
}

QString dataFolderLine() {
  return "Dossier des fichiers : " + QDir::currentPath() + "\n";
}

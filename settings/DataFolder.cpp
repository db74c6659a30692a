#include "settings/DataFolder.h"

#include "platform/Platform.h"
#include "settings/SettingsKeys.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
QString passedOver;

// Permission bits do not say it for root or on a read-only mount: try.
bool canCreateFileIn(const QString &folder) {
  QTemporaryFile probe(QDir(folder).filePath("vorsk-XXXXXX"));
  return probe.open();
}

bool holdsOwnSettings(const QString &folder) {
  std::string bytes;
  return readOwnFile(QDir(folder).filePath(SETTINGS_FILE).toStdString(),
                     &bytes);
}
} // namespace

QString chooseDataFolder(const QString &workingFolder,
                         const QString &userDataFolder) {
  if (isPrivateFolder(workingFolder.toStdString()) &&
      holdsOwnSettings(workingFolder) && canCreateFileIn(workingFolder))
    return workingFolder;
  if (QDir().mkpath(userDataFolder) && canCreateFileIn(userDataFolder))
    return userDataFolder;
  return workingFolder;
}

void enterDataFolder() {
  const QString working = QDir::currentPath();
  const QString chosen = chooseDataFolder(
      working,
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
  if (chosen != working && QDir(working).exists(SETTINGS_FILE) &&
      !isPrivateFolder(working.toStdString()))
    passedOver = QString::fromUtf8("Dossier %1 modifiable par d'autres "
                                   "utilisateurs : ses fichiers sont ignorés, "
                                   "Vorsk travaille dans %2.")
                     .arg(working, chosen);
  QDir::setCurrent(chosen);
}

bool enterGivenDataFolder(const QString &folder, QString *why) {
  const QString path = QDir(folder).absolutePath();
  if (!QDir().mkpath(path)) {
    *why = "cannot create the data folder " + path;
    return false;
  }
  if (!isPrivateFolder(path.toStdString())) {
    *why = "the data folder " + path +
           " must belong to this user, and no other user may write it";
    return false;
  }
  if (!canCreateFileIn(path) || !QDir::setCurrent(path)) {
    *why = "cannot write in the data folder " + path;
    return false;
  }
  return true;
}

QString passedOverFolderLine() { return passedOver; }

QString dataFolderLine() {
  return "Dossier des fichiers : " + QDir::currentPath() + "\n";
}

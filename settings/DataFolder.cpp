#include "settings/DataFolder.h"

#include "platform/Platform.h"
#include "settings/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
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

// Created for this user alone whatever the umask, which may let the group
// write.
bool makeOwnFolder(const QString &path) {
  if (QDir(path).exists())
    return true;
  return QDir().mkpath(path) &&
         QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                         QFile::ExeOwner);
}

// The last resort of a start that has no folder of its own: one made for
// it, that nobody else can have prepared.
QString freshPrivateFolder() {
  QTemporaryDir folder(QDir::tempPath() + "/vorsk-XXXXXX");
  folder.setAutoRemove(false);
  return folder.isValid() ? folder.path() : QString();
}
} // namespace

QString chooseDataFolder(const QString &workingFolder,
                         const QString &userDataFolder) {
  const bool own = isPrivateFolder(workingFolder.toStdString()) &&
                   canCreateFileIn(workingFolder);
  if (own && holdsOwnSettings(workingFolder))
    return workingFolder;
  if (makeOwnFolder(userDataFolder) && canCreateFileIn(userDataFolder))
    return userDataFolder;
  // Another user could have left settings, links or a lock in a folder
  // they can write.
  const QString fresh = own ? QString() : freshPrivateFolder();
  return fresh.isEmpty() ? workingFolder : fresh;
}

void enterDataFolder() {
  const QString working = QDir::currentPath();
  const QString user =
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  const QString chosen = chooseDataFolder(working, user);
  if (chosen != working && chosen != user)
    passedOver = QString::fromUtf8("Dossier %1 impossible à créer : Vorsk "
                                   "travaille dans %2, pour ce lancement "
                                   "seulement.")
                     .arg(user, chosen);
  else if (chosen != working && QDir(working).exists(SETTINGS_FILE) &&
           !isPrivateFolder(working.toStdString()))
    passedOver = QString::fromUtf8("Dossier %1 modifiable par d'autres "
                                   "utilisateurs : ses fichiers sont ignorés, "
                                   "Vorsk travaille dans %2.")
                     .arg(working, chosen);
  QDir::setCurrent(chosen);
}

bool enterGivenDataFolder(const QString &folder, QString *why) {
  const QString path = QDir(folder).absolutePath();
  if (!makeOwnFolder(path)) {
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

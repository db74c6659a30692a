#include "settings/Sounds.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {
QString &shippedRoot() {
  static QString root;
  return root;
}

const char *folderName(SoundKind kind) {
  return kind == SoundKind::Success ? "Succes/" : "Failed/";
}

QString userFolder(SoundKind kind) {
  return QString("./Sound/") + folderName(kind);
}

QStringList wavFiles(const QString &folder) {
  return QDir(folder).entryList({"*.wav"}, QDir::Files,
                                QDir::Name | QDir::IgnoreCase);
}
} // namespace

QString shippedSoundFolder(SoundKind kind) {
  // Installed under share/vorsk/Sound beside bin/; the build tree mirrors it.
  const QString root =
      shippedRoot().isEmpty()
          ? QCoreApplication::applicationDirPath() + "/../share/vorsk/Sound/"
          : shippedRoot();
  return root + folderName(kind);
}

QStringList soundNames(SoundKind kind) {
  QStringList names = wavFiles(userFolder(kind));
  for (const QString &name : wavFiles(shippedSoundFolder(kind)))
    if (!names.contains(name, Qt::CaseInsensitive))
      names << name;
  std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) < 0;
  });
  return names;
}

QString soundFile(SoundKind kind, const QString &name) {
  const QString own = userFolder(kind) + name;
  const QString shipped = shippedSoundFolder(kind) + name;
  return !QFileInfo::exists(own) && QFileInfo::exists(shipped) ? shipped : own;
}

QString setShippedSoundRoot(const QString &root) {
  return std::exchange(shippedRoot(), root);
}

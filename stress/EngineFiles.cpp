#include "stress/EngineFiles.h"

#include "stress/EngineContract.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

std::string engineFileName(int worker) {
  if (worker == 0)
    return ENGINE_FILE;
  return QString::asprintf(ENGINE_COPY_FORMAT, worker).toStdString();
}

namespace {
bool sameContent(const QString &a, const QString &b) {
  QFile first(a), second(b);
  if (first.size() != second.size())
    return false;
  if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
    return false;
  return first.readAll() == second.readAll();
}
} // namespace

void PrepareEngineCopies(int logicalCount, const QString &executableDir) {
  QString folder = executableDir;
  if (!QFileInfo::exists(QDir(folder).filePath(ENGINE_FILE)))
    folder = QDir::currentPath();
  const QString engine = QDir(folder).filePath(ENGINE_FILE);
  if (!QFileInfo::exists(engine))
    return;
  for (int k = 1; k < logicalCount; ++k) {
    const QString copy =
        QDir(folder).filePath(QString::fromStdString(engineFileName(k)));
    if (QFileInfo::exists(copy)) {
      if (sameContent(engine, copy))
        continue;
      QFile::remove(copy);
    }
    QFile::copy(engine, copy);
  }
}

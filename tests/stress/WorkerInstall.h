#pragma once

// Worker processes in tests: the worker program installed with a fixture
// engine in a folder of the test's, and the test process's children.

#include "platform/linux/LinuxWorker.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

#ifdef FIXTURE_DIR
inline QString fixture(const char *name) {
  return QString(FIXTURE_DIR "/%1.so").arg(name);
}
#endif

// Installs the worker program and `engine` as the engine in `folder`, and
// has the Linux platform spawn workers from there.
inline bool installWorker(const QString &folder, const QString &engine) {
  const QString program = QDir(folder).filePath("vorsk-worker");
  const QString installed = QDir(folder).filePath("Burnmod.so");
  QFile::remove(program);
  QFile::remove(installed);
  if (!QFile::copy(WORKER_PROGRAM, program) || !QFile::copy(engine, installed))
    return false;
  setWorkerProgram(program.toStdString());
  return true;
}

inline QByteArray contents(const QString &file) {
  QFile f(file);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The processes whose parent is this one.
inline QList<pid_t> childProcesses() {
  QList<pid_t> children;
  const QString self = QString::number(getpid());
  for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
    QFile stat("/proc/" + entry + "/stat");
    if (!entry[0].isDigit() || !stat.open(QIODevice::ReadOnly))
      continue;
    const QString text = QString::fromUtf8(stat.readAll());
    const QStringList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 1 && fields[1] == self)
      children << entry.toInt();
  }
  return children;
}

// No child of this process is left, running or a zombie.
inline bool noChildLeft() {
  return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

// One Vorsk per data folder and machine: two would load the processor twice
// and overwrite each other's Event.log and Vorsk.ini. The first start holds a
// lock file and listens on a local socket beside it, both in the data
// folder, which only the user can write (a shared one such as /tmp would
// let another user take the lock first). Both are named after the machine,
// as nodes may share a home folder. A later start finds the lock taken and,
// through the socket, learns what holds it; a window is asked to show itself.
class SingleInstance : public QObject {
  Q_OBJECT

public:
  enum class Holder { Nothing, Window, Headless };

  // folder is the data folder; self says what this instance is.
  SingleInstance(const QString &folder, Holder self);

  // False when another instance holds the folder. A lock left by a process
  // that is gone, or one whose contents cannot be read and that no process
  // holds, is taken over; a lock that cannot be made at all lets this one
  // run unguarded.
  bool claim();
  // From a later start: what holds the folder (Nothing when it cannot be
  // reached). A window is asked to show itself.
  Holder contactRunning();

signals:
  void showRequested();

private:
  QString path_;
  Holder self_;
  QLockFile lock_;
  QLocalServer server_;
};

// What a later start prints when the folder is taken.
QString alreadyRunningLine(SingleInstance::Holder holder);

#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

// One Vorsk per user and working folder: two would load the processor twice
// and overwrite each other's Event.log and Vorsk.ini. The first start holds a
// lock file and listens on a local socket beside it; a later start finds the
// lock taken and, through the socket, asks the first to show its window.
class SingleInstance : public QObject {
  Q_OBJECT

public:
  // folder holds the lock and the socket and should be private to the user;
  // workingFolder is the one whose settings and log the instance keeps.
  SingleInstance(const QString &folder, const QString &workingFolder);

  // The user's runtime folder, else the temporary one.
  static QString userFolder();

  // False when another instance holds the working folder. A lock left by a
  // process that is gone is taken over; a lock that cannot be made at all
  // lets this one run unguarded.
  bool claim();
  // From a later start: asks the running instance to show its window. True
  // when it was reached.
  bool showRunning();

signals:
  void showRequested();

private:
  QString path_;
  QLockFile lock_;
  QLocalServer server_;
};

#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QSysInfo>

namespace {
const int CONNECT_TIMEOUT_MS = 2000;
const char WindowByte = 'W', HeadlessByte = 'H';
} // namespace

SingleInstance::SingleInstance(const QString &folder, Holder self)
    : path_(QDir(folder).filePath("vorsk-" + QSysInfo::machineHostName())),
      self_(self), lock_(path_ + ".lock") {
  // Vorsk runs for hours: only a lock whose process is gone is stale.
  lock_.setStaleLockTime(0);
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket *socket = server_.nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket,
              &QObject::deleteLater);
      socket->write(self_ == Holder::Window ? &WindowByte : &HeadlessByte, 1);
      socket->disconnectFromServer();
    }
    if (self_ == Holder::Window)
      emit showRequested();
  });
}

bool SingleInstance::claim() {
  if (!lock_.tryLock(0)) {
    if (lock_.error() != QLockFile::LockFailedError)
      return true;
    // Unreadable contents name no process to ask about; the lock is stale
    // unless a process still holds it, which removing it checks.
    qint64 pid;
    QString host, application;
    if (lock_.getLockInfo(&pid, &host, &application) ||
        !lock_.removeStaleLockFile() || !lock_.tryLock(0))
      return false;
  }
  // A socket left by a crashed instance is ours to replace.
  QLocalServer::removeServer(path_ + ".socket");
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  server_.listen(path_ + ".socket");
  return true;
}

SingleInstance::Holder SingleInstance::contactRunning() {
  QLocalSocket socket;
  socket.connectToServer(path_ + ".socket");
  if (!socket.waitForConnected(CONNECT_TIMEOUT_MS) ||
      (!socket.bytesAvailable() &&
       !socket.waitForReadyRead(CONNECT_TIMEOUT_MS)))
    return Holder::Nothing;
  char holder = 0;
  socket.getChar(&holder);
  return holder == WindowByte     ? Holder::Window
         : holder == HeadlessByte ? Holder::Headless
                                  : Holder::Nothing;
}

QString alreadyRunningLine(SingleInstance::Holder holder) {
  switch (holder) {
  case SingleInstance::Holder::Window:
    return QString::fromUtf8("Vorsk est déjà lancé dans ce dossier : sa "
                             "fenêtre est affichée.");
  case SingleInstance::Holder::Headless:
    return QString::fromUtf8("Vorsk est déjà lancé dans ce dossier (test "
                             "sans fenêtre en cours).");
  case SingleInstance::Holder::Nothing:
    break;
  }
  return QString::fromUtf8("Vorsk est déjà lancé dans ce dossier.");
}

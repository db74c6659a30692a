#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {
const int CONNECT_TIMEOUT_MS = 2000;

// The home folder names the user, in case the folder is shared.
QString instanceName(const QString &workingFolder) {
  const QString key =
      QDir::homePath() + '\n' + QDir(workingFolder).canonicalPath();
  return "vorsk-" +
         QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256)
             .toHex()
             .left(24);
}
} // namespace

SingleInstance::SingleInstance(const QString &folder,
                               const QString &workingFolder)
    : path_(folder + '/' + instanceName(workingFolder)),
      lock_(path_ + ".lock") {
  // Vorsk runs for hours: only a lock whose process is gone is stale.
  lock_.setStaleLockTime(0);
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket *socket = server_.nextPendingConnection())
      socket->deleteLater();
    emit showRequested();
  });
}

QString SingleInstance::userFolder() {
  const QString runtime =
      QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

bool SingleInstance::claim() {
  if (!lock_.tryLock(0))
    return lock_.error() != QLockFile::LockFailedError;
  // A socket left by a crashed instance is ours to replace.
  QLocalServer::removeServer(path_ + ".socket");
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  server_.listen(path_ + ".socket");
  return true;
}

bool SingleInstance::showRunning() {
  QLocalSocket socket;
  socket.connectToServer(path_ + ".socket");
  return socket.waitForConnected(CONNECT_TIMEOUT_MS);
}

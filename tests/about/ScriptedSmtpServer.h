#pragma once

#include <QByteArray>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QVector>

// One move of the scripted server: wait until the client's bytes since the
// previous move contain `await` (nothing to wait for when empty), pause,
// send `reply` as one write, and hang up when `hangUp` is set.
struct ServerStep {
  QByteArray await;
  int delayMs = 0;
  QByteArray reply;
  bool hangUp = false;
};

// An SMTP server on 127.0.0.1 that plays a script, reply by reply, for one
// connection and records every byte the client sent. It runs on its own
// thread because the client blocks the test's thread while it talks.
class ScriptedSmtpServer : public QThread {
public:
  explicit ScriptedSmtpServer(QVector<ServerStep> script,
                              int acceptWaitMs = 5000)
      : script(std::move(script)), acceptWaitMs(acceptWaitMs) {
    start();
  }
  ~ScriptedSmtpServer() override { wait(); }

  // Blocks until the server listens.
  quint16 port() {
    listening.acquire();
    listening.release();
    return listenPort;
  }
  // Valid once the thread has finished (call wait() first).
  QByteArray received() const { return bytes; }
  bool wasConnected() const { return connected; }

  // The replies of a server that accepts everything.
  static QVector<ServerStep> accepting() {
    return {
        {"", 0, "220 test ESMTP\r\n"},    {"\r\n", 0, "250 test\r\n"},
        {"\r\n", 0, "250 sender ok\r\n"}, {"\r\n", 0, "250 rcpt ok\r\n"},
        {"\r\n", 0, "354 go ahead\r\n"},  {"\r\n.\r\n", 0, "250 queued\r\n"},
        {"\r\n", 0, "221 bye\r\n"}};
  }

protected:
  void run() override {
    const int clientSilenceMs = 5000;
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    listenPort = server.serverPort();
    listening.release();
    if (!server.waitForNewConnection(acceptWaitMs))
      return;
    connected = true;
    QTcpSocket *client = server.nextPendingConnection();
    int consumed = 0;
    for (const ServerStep &step : script) {
      if (!step.await.isEmpty()) {
        while (bytes.indexOf(step.await, consumed) < 0) {
          if (!client->waitForReadyRead(clientSilenceMs))
            return;
          bytes += client->readAll();
        }
        consumed = bytes.indexOf(step.await, consumed) + step.await.size();
      }
      msleep(step.delayMs);
      client->write(step.reply);
      client->waitForBytesWritten(clientSilenceMs);
      if (step.hangUp) {
        client->disconnectFromHost();
        return;
      }
    }
    // Whatever the client still sends until it hangs up.
    while (client->waitForReadyRead(clientSilenceMs))
      bytes += client->readAll();
    bytes += client->readAll();
  }

private:
  QVector<ServerStep> script;
  int acceptWaitMs;
  QSemaphore listening;
  quint16 listenPort = 0;
  QByteArray bytes;
  bool connected = false;
};

// A port on 127.0.0.1 where nothing listens: connecting is refused at once.
inline quint16 RefusingPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

#pragma once

#include <QByteArray>
#include <QSemaphore>
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
                              int acceptWaitMs = 5000);
  ~ScriptedSmtpServer() override;

  // Blocks until the server listens.
  quint16 port();
  // Valid once the thread has finished (call wait() first).
  QByteArray received() const { return bytes; }
  bool wasConnected() const { return connected; }

  // The replies of a server that accepts everything.
  static QVector<ServerStep> accepting();

protected:
  void run() override;

private:
  QVector<ServerStep> script;
  int acceptWaitMs;
  QSemaphore listening;
  quint16 listenPort = 0;
  QByteArray bytes;
  bool connected = false;
};

// A port on 127.0.0.1 where nothing listens: connecting is refused at once.
quint16 RefusingPort();

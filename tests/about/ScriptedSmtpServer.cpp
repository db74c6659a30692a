#include "ScriptedSmtpServer.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {
constexpr int ClientSilenceMs = 5000;
}

ScriptedSmtpServer::ScriptedSmtpServer(QVector<ServerStep> script,
                                       int acceptWaitMs)
    : script(std::move(script)), acceptWaitMs(acceptWaitMs) {
  start();
}

ScriptedSmtpServer::~ScriptedSmtpServer() { wait(); }

quint16 ScriptedSmtpServer::port() {
  listening.acquire();
  listening.release();
  return listenPort;
}

QVector<ServerStep> ScriptedSmtpServer::accepting() {
  return {{"", 0, "220 test ESMTP\r\n"},    {"\r\n", 0, "250 test\r\n"},
          {"\r\n", 0, "250 sender ok\r\n"}, {"\r\n", 0, "250 rcpt ok\r\n"},
          {"\r\n", 0, "354 go ahead\r\n"},  {"\r\n.\r\n", 0, "250 queued\r\n"},
          {"\r\n", 0, "221 bye\r\n"}};
}

void ScriptedSmtpServer::run() {
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
        if (!client->waitForReadyRead(ClientSilenceMs))
          return;
        bytes += client->readAll();
      }
      consumed = bytes.indexOf(step.await, consumed) + step.await.size();
    }
    msleep(step.delayMs);
    client->write(step.reply);
    client->waitForBytesWritten(ClientSilenceMs);
    if (step.hangUp) {
      client->disconnectFromHost();
      return;
    }
  }
  // Whatever the client still sends until it hangs up.
  while (client->waitForReadyRead(ClientSilenceMs))
    bytes += client->readAll();
  bytes += client->readAll();
}

quint16 RefusingPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

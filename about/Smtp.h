#pragma once

#include <QObject>
#include <QString>

class QTcpSocket;
class QTextStream;

// Sends one plain-text message to one recipient over unencrypted SMTP,
// without authentication. The whole dialogue runs inside SendMail(),
// blocking the calling thread; one object sends at most one message.
class Smtp : public QObject {
  Q_OBJECT

public:
  // Positions in the dialogue; GetState() returns them as plain integers.
  enum State {
    WaitMailReply = 0,
    WaitHeloReply = 1,
    WaitRcptReply = 2,
    WaitGreeting = 3,
    WaitDataReply = 4,
    WaitMessageReply = 5,
    Sent = 6,
    Failed = 7,
  };

  // A reply longer than this is hostile or broken: the dialogue fails.
  static constexpr int MaxReplySize = 64 * 1024;
  static constexpr int ConnectTimeoutMs = 2000;
  static constexpr int GreetingTimeoutMs = 10000;
  static constexpr int ReplyTimeoutMs = 2000;

  Smtp(const QString &from, const QString &to, const QString &subject,
       const QString &body);
  ~Smtp() override;

  void SetSmtpServer(const QString &name, quint16 port = 25);
  // False when the dialogue could not start (no server name, no connection,
  // no greeting); true otherwise, the outcome being GetState().
  bool SendMail();
  int GetState() const { return state; }

signals:
  void status(const QString &text);

private slots:
  void readyRead();

private:
  void HandleReplies();
  void Answer(const QByteArray &code);

  QString server;
  quint16 port = 25;
  QString message;
  QTextStream *stream;
  QTcpSocket *socket;
  QString from;
  QString rcpt;
  QByteArray response;
  int state;
};

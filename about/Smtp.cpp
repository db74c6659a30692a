#include "about/Smtp.h"

#include "about/MailMessage.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QTextStream>

namespace {

// CR LF throughout, and one more period in front of every line that starts
// with one, so that no line of the text can end the data early. Lone CRs
// and existing CR LFs are made plain line ends first: a bare CR is not
// allowed in SMTP data and would otherwise turn CR LF into CR CR LF.
QString ComposeMessage(const QString &from, const QString &to,
                       const QString &subject, const QString &body) {
  QString text = MailMessage(from, to, subject, body);
  text.replace("\r\n", "\n");
  text.replace('\r', '\n');
  text.replace("\n", "\r\n");
  if (text.startsWith('.'))
    text.prepend('.');
  text.replace("\r\n.", "\r\n..");
  return text;
}

} // namespace

Smtp::Smtp(const QString &from, const QString &to, const QString &subject,
           const QString &body)
    : socket(new QTcpSocket(this)) {
  stream = new QTextStream(socket);
  // The local 8-bit encoding of a Linux desktop.
  stream->setCodec("UTF-8");
  connect(socket, &QTcpSocket::readyRead, this, &Smtp::readyRead);
  message = ComposeMessage(from, to, subject, body);
  this->from = from;
  rcpt = to;
  state = WaitGreeting;
}

Smtp::~Smtp() {
  delete stream;
  socket->disconnectFromHost();
  socket->close();
  socket->abort();
  delete socket;
}

void Smtp::SetSmtpServer(const QString &name, quint16 port) {
  server = name;
  this->port = port;
}

bool Smtp::SendMail() {
  if (server.isEmpty())
    return false;
  socket->connectToHost(server, port, QIODevice::ReadWrite);
  if (!socket->waitForConnected(ConnectTimeoutMs))
    return false;

  // Each reply has its own time limit, counted from the moment the client
  // starts waiting for it, however its lines are spread over time;
  // HandleReplies() moves the state on. A greeting that is not complete in
  // time is no greeting.
  int awaited = -1;
  QDeadlineTimer deadline;
  while (state != Sent && state != Failed) {
    if (state != awaited) {
      awaited = state;
      deadline.setRemainingTime(state == WaitGreeting ? GreetingTimeoutMs
                                                      : ReplyTimeoutMs);
    }
    if (!socket->waitForReadyRead(int(deadline.remainingTime()))) {
      if (state == WaitGreeting)
        return false;
      state = Failed;
      break;
    }
    // The socket's notification has usually handled the data already; this
    // covers the case where it was not delivered.
    HandleReplies();
  }
  // Lets QUIT reach the server and its reply come back before the object
  // is destroyed, which would discard anything not yet written.
  if (state == Sent)
    socket->waitForReadyRead(ReplyTimeoutMs);
  return true;
}

void Smtp::readyRead() { HandleReplies(); }

void Smtp::HandleReplies() {
  // A reply is complete with a line whose fourth character is not a hyphen;
  // an incomplete one waits for the rest, within its time limit.
  while (state != Sent && state != Failed && socket->canReadLine()) {
    const QByteArray line = socket->readLine();
    response += line;
    if (response.size() > MaxReplySize)
      break;
    if (line.size() > 3 && line.at(3) == '-')
      continue;
    response.clear();
    Answer(line.left(3));
  }
  if (state != Sent && state != Failed &&
      response.size() + socket->bytesAvailable() > MaxReplySize)
    state = Failed;
}

void Smtp::Answer(const QByteArray &code) {
  const char expected = state == WaitDataReply ? '3' : '2';
  if (code.isEmpty() || code.at(0) != expected) {
    state = Failed;
    return;
  }
  switch (state) {
  case WaitGreeting:
    *stream << "HELO there\r\n";
    state = WaitHeloReply;
    break;
  case WaitHeloReply:
    *stream << "MAIL FROM: " << from << "\r\n";
    state = WaitMailReply;
    break;
  case WaitMailReply:
    *stream << "RCPT TO: " << rcpt << "\r\n";
    state = WaitRcptReply;
    break;
  case WaitRcptReply:
    *stream << "DATA\r\n";
    state = WaitDataReply;
    break;
  case WaitDataReply:
    *stream << message << "\r\n.\r\n";
    state = WaitMessageReply;
    break;
  case WaitMessageReply:
    *stream << "QUIT\r\n";
    state = Sent;
    emit status(tr("Message sent"));
    break;
  }
  stream->flush();
}

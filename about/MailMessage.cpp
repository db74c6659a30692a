#include "about/MailMessage.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QUuid>

namespace {

constexpr int MaxLineLength = 76;

void AppendEncodedLine(const QByteArray &line, QByteArray *out) {
  int width = 0;
  for (int i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const bool last = i == line.size() - 1;
    // A blank at the end of a line would be lost in transit.
    const bool literal =
        (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
    const QByteArray piece =
        literal
            ? QByteArray(1, char(c))
            : "=" + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
    // Room is kept for the "=" of a soft break, except on the line's end.
    if (width + piece.size() > MaxLineLength - (last ? 0 : 1)) {
      *out += "=\n";
      width = 0;
    }
    *out += piece;
    width += piece.size();
  }
}

// The host part of the sender's address, or a name that is never anyone's.
QString MessageIdDomain(const QString &from) {
  QString domain = from.section('@', 1);
  domain.remove(QRegularExpression("[^A-Za-z0-9.-]"));
  return domain.isEmpty() ? QString("vorsk.invalid") : domain;
}

} // namespace

QByteArray QuotedPrintable(const QString &text) {
  QString lines = text;
  lines.replace("\r\n", "\n");
  lines.replace('\r', '\n');
  QByteArray out;
  bool first = true;
  for (const QByteArray &line : lines.toUtf8().split('\n')) {
    if (!first)
      out += '\n';
    first = false;
    AppendEncodedLine(line, &out);
  }
  return out;
}

QString MailMessage(const QString &from, const QString &to,
                    const QString &subject, const QString &body) {
  return "To: " + to + "\n" + "From: " + from + "\n" + "Subject: " + subject +
         "\n" + "MIME-Version: 1.0\n" +
         "Content-Type: text/plain; charset=UTF-8\n" +
         "Content-Transfer-Encoding: quoted-printable\n" +
         "Date: " + QDateTime::currentDateTime().toString(Qt::RFC2822Date) +
         "\n" + "Message-ID: <" +
         QUuid::createUuid().toString(QUuid::WithoutBraces) + "@" +
         MessageIdDomain(from) + ">\n" + "\n" +
         QString::fromLatin1(QuotedPrintable(body));
}

#pragma once

#include <QByteArray>
#include <QString>

// Text as quoted-printable UTF-8: printable ASCII only, "\n" between lines
// (any CR LF or lone CR in the text counts as one line end), and no line
// longer than 76 characters, a longer one being cut by soft breaks. Mail
// servers refuse lines over 998 characters and garble 8-bit text sent
// without a character set.
QByteArray QuotedPrintable(const QString &text);

// A standard plain-text message, with "\n" line ends: To, From and Subject
// as given, the MIME headers, Date and Message-ID, an empty line and the
// body in quoted-printable UTF-8.
QString MailMessage(const QString &from, const QString &to,
                    const QString &subject, const QString &body);

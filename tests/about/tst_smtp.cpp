#include "ScriptedSmtpServer.h"
#include "about/Smtp.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(QVector<ServerStep>)

namespace {

// Date and Message-ID change with every message; Masked() blanks them.
const QByteArray Head = "To: bugs@test\r\nFrom: me@test\r\nSubject: Hello\r\n"
                        "MIME-Version: 1.0\r\n"
                        "Content-Type: text/plain; charset=UTF-8\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n"
                        "Date: *\r\nMessage-ID: *\r\n\r\n";
const QByteArray UpToRcpt =
    "HELO there\r\nMAIL FROM: me@test\r\nRCPT TO: bugs@test\r\n";

QByteArray FullDialogue(const QByteArray &data) {
  return UpToRcpt + "DATA\r\n" + Head + data + "\r\n.\r\nQUIT\r\n";
}

QByteArray Masked(QByteArray sent) {
  return QString::fromLatin1(sent)
      .replace(QRegularExpression("\r\nDate: [^\r]+"), "\r\nDate: *")
      .replace(QRegularExpression("\r\nMessage-ID: <[^\r]+@test>"),
               "\r\nMessage-ID: *")
      .toLatin1();
}

// The accepting script with the reply at `index` replaced by `steps`.
QVector<ServerStep> Replacing(int index, const QVector<ServerStep> &steps) {
  QVector<ServerStep> script = ScriptedSmtpServer::accepting().mid(0, index);
  return script + steps;
}

} // namespace

class TestSmtp : public QObject {
  Q_OBJECT

private slots:
  // The replies the client meets, and the message's text as it goes out.
  void dialogue_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QVector<ServerStep>>("script");
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("sent");
    const QString body = "body";
    const QVector<ServerStep> all = ScriptedSmtpServer::accepting();
    const QByteArray endless = "250-" + QByteArray(70, 'x') + "\r\n";
    QTest::newRow("every reply positive")
        << body << all << 6 << FullDialogue("body");
    QTest::newRow("550 to RCPT TO")
        << body << Replacing(3, {{"\r\n", 0, "550 no such user\r\n"}}) << 7
        << UpToRcpt;
    QTest::newRow("250 to DATA")
        << body << Replacing(4, {{"\r\n", 0, "250 what\r\n"}}) << 7
        << UpToRcpt + "DATA\r\n";
    QTest::newRow("two-line greeting in one packet")
        << body
        << QVector<ServerStep>{{"", 0, "220-test ESMTP\r\n220 welcome\r\n"}} +
               all.mid(1)
        << 6 << FullDialogue("body");
    QTest::newRow("multi-line reply split across packets")
        << body
        << Replacing(1, {{"\r\n", 0, "250-test\r\n25"},
                         {"", 300, "0-PIPELINING\r\n250 HELP\r\n"}}) +
               all.mid(2)
        << 6 << FullDialogue("body");
    QTest::newRow("replies ending in a bare line feed")
        << body << QVector<ServerStep>{{"", 0, "220 test\n"},
                                       {"\r\n", 0, "250 a\n"},
                                       {"\r\n", 0, "250 b\n"},
                                       {"\r\n", 0, "250 c\n"},
                                       {"\r\n", 0, "354 d\n"},
                                       {"\r\n.\r\n", 0, "250 e\n"},
                                       {"\r\n", 0, "221 f\n"}}
        << 6 << FullDialogue("body");
    QTest::newRow("reply to MAIL FROM after 3 s")
        << body << Replacing(2, {{"\r\n", 3000, "250 sender ok\r\n"}}) << 7
        << QByteArray("HELO there\r\nMAIL FROM: me@test\r\n");
    QTest::newRow("reply line without its line end")
        << body << Replacing(1, {{"\r\n", 0, "250 test"}}) << 7
        << QByteArray("HELO there\r\n");
    QTest::newRow("endless multi-line reply")
        << body << Replacing(1, {{"\r\n", 0, endless.repeated(3000)}}) << 7
        << QByteArray("HELO there\r\n");
    QTest::newRow("endless line")
        << body << Replacing(1, {{"\r\n", 0, QByteArray(200 * 1024, '2')}}) << 7
        << QByteArray("HELO there\r\n");
    QTest::newRow("server hangs up mid-dialogue")
        << body << Replacing(2, {{"\r\n", 0, "", true}}) << 7
        << QByteArray("HELO there\r\nMAIL FROM: me@test\r\n");
    QTest::newRow("server hangs up after accepting the message")
        << body << Replacing(5, {{"\r\n.\r\n", 0, "250 queued\r\n", true}}) << 6
        << FullDialogue("body").chopped(6);
    QTest::newRow("bare line feeds become CR LF")
        << "one\ntwo\n\nthree" << all << 6
        << FullDialogue("one\r\ntwo\r\n\r\nthree");
    QTest::newRow("CR LF and lone CR stay one line end")
        << "one\r\ntwo\rthree" << all << 6
        << FullDialogue("one\r\ntwo\r\nthree");
    QTest::newRow("a line holding a single period")
        << "before\n.\nafter" << all << 6
        << FullDialogue("before\r\n..\r\nafter");
    QTest::newRow("a line starting with a period")
        << "before\n.hidden\n..two" << all << 6
        << FullDialogue("before\r\n..hidden\r\n...two");
    QTest::newRow("body starting with a period")
        << ".start" << all << 6 << FullDialogue("..start");
    QTest::newRow("body ending with a period line")
        << "end\n." << all << 6 << FullDialogue("end\r\n..");
    QTest::newRow("accented text in quoted-printable UTF-8")
        << QString::fromUtf8("Envoyé par moi") << all << 6
        << FullDialogue("Envoy=C3=A9 par moi");
    QTest::newRow("equals sign and blanks ending a line")
        << "a=b \nc\t" << all << 6 << FullDialogue("a=3Db=20\r\nc=09");
    QTest::newRow("a line of 76 characters stays whole")
        << QString(76, 'a') << all << 6 << FullDialogue(QByteArray(76, 'a'));
    QTest::newRow("a longer line gets soft breaks")
        << QString(160, 'a') << all << 6
        << FullDialogue(QByteArray(75, 'a') + "=\r\n" + QByteArray(75, 'a') +
                        "=\r\n" + QByteArray(10, 'a'));
    QTest::newRow("an encoded byte is never cut")
        << QString(74, 'a') + QString::fromUtf8("é") << all << 6
        << FullDialogue(QByteArray(74, 'a') + "=\r\n=C3=A9");
  }

  void dialogue() {
    QFETCH(QString, body);
    QFETCH(QVector<ServerStep>, script);
    QFETCH(int, state);
    QFETCH(QByteArray, sent);
    ScriptedSmtpServer server(script);
    {
      Smtp smtp("me@test", "bugs@test", "Hello", body);
      QSignalSpy status(&smtp, &Smtp::status);
      smtp.SetSmtpServer("127.0.0.1", server.port());
      QElapsedTimer clock;
      clock.start();
      QVERIFY(smtp.SendMail());
      // A late or incomplete reply costs one reply time-out, no more.
      QVERIFY(clock.elapsed() < Smtp::ReplyTimeoutMs + 1500);
      QCOMPARE(smtp.GetState(), state);
      QCOMPARE(status.count(), state == Smtp::Sent ? 1 : 0);
    }
    server.wait();
    QCOMPARE(Masked(server.received()), sent);
  }

  void failsToStart_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("refused");
    QTest::newRow("empty server name") << QString() << false;
    QTest::newRow("connection refused") << QString("127.0.0.1") << true;
  }

  void failsToStart() {
    QFETCH(QString, name);
    QFETCH(bool, refused);
    ScriptedSmtpServer server(ScriptedSmtpServer::accepting(), 300);
    Smtp smtp("me@test", "bugs@test", "Hello", "body");
    smtp.SetSmtpServer(name, refused ? RefusingPort() : server.port());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!smtp.SendMail());
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(smtp.GetState(), int(Smtp::WaitGreeting));
    server.wait();
    QVERIFY(!server.wasConnected());
  }

  // Twelve seconds of greeting lines, one every half second: the greeting's
  // limit holds for the whole greeting, not for each line.
  void greetingTrickledLineByLine() {
    ScriptedSmtpServer server(
        QVector<ServerStep>(24, {"", 500, "220-wait\r\n"}));
    Smtp smtp("me@test", "bugs@test", "Hello", "body");
    smtp.SetSmtpServer("127.0.0.1", server.port());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!smtp.SendMail());
    QVERIFY(clock.elapsed() < Smtp::GreetingTimeoutMs + 1500);
    QCOMPARE(smtp.GetState(), int(Smtp::WaitGreeting));
  }
};

QTEST_MAIN(TestSmtp)
#include "tst_smtp.moc"

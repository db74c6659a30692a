#include "ModalCloser.h"
#include "ScriptedSmtpServer.h"
#include "about/BugReport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

namespace {

const QString Failure = QString::fromUtf8(
    "Vorsk 1.0.4|L'envoie du rapport de bug a échoué !\nVeuillez saisir "
    "l'adresse de votre serveur SMTP et cliquez sur 'Envoyer'.|2");
const QString Success =
    QString::fromUtf8("Vorsk 1.0.4|Rapport de bug envoyé avec succès.|1");

// 127.0.0.2 is loopback too, but the scripted server listens on 127.0.0.1
// only: a relay there refuses the connection at once.
ReportRoute Route(const QString &relay, quint16 port) {
  return {"report@test", "bugs@test", relay, port};
}

// A real SMTP server (Debian's aiosmtpd) on 127.0.0.1 for one message, which
// it hands back as Python's standard e-mail parser reads it.
class MailSink {
public:
  MailSink() {
    process.start(SYSTEM_PYTHON, {MAIL_SINK});
    port = quint16(nextLine().value("port").toInt());
  }
  ~MailSink() {
    process.kill();
    process.waitForFinished();
  }
  QJsonObject nextLine() {
    while (!process.canReadLine() && process.waitForReadyRead(10000)) {
    }
    return QJsonDocument::fromJson(process.readLine()).object();
  }
  QProcess process;
  quint16 port = 0;
};

QStringList Headers(const QJsonObject &message) {
  QStringList headers;
  for (const QJsonValue &header : message.value("headers").toArray())
    headers << header[0].toString() + ": " + header[1].toString();
  return headers;
}

struct Form {
  explicit Form(BugReport &dialog)
      : pseudo(dialog.findChild<QLineEdit *>("pseudoEdit")),
        smtp(dialog.findChild<QLineEdit *>("smtpEdit")),
        labelSmtp(dialog.findChild<QLabel *>("labelSMTP")),
        description(dialog.findChild<QTextEdit *>("textEdit")),
        send(dialog.findChild<QPushButton *>("sendButton")),
        close(dialog.findChild<QPushButton *>("closeButton")) {}
  QLineEdit *pseudo;
  QLineEdit *smtp;
  QLabel *labelSmtp;
  QTextEdit *description;
  QPushButton *send;
  QPushButton *close;
};

void Store(const QString &key, const QString &value) {
  QSettings settings("Vorsk.ini", QSettings::IniFormat);
  settings.setValue(key, value);
}

QString Stored(const QString &key) {
  QSettings settings("Vorsk.ini", QSettings::IniFormat);
  return settings.value(key, "<none>").toString();
}

} // namespace

class TestBugReport : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString startDir;

private slots:
  void initTestCase() {
    QVERIFY(dir.isValid());
    startDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
  }
  void init() { QFile::remove("Vorsk.ini"); }
  void cleanupTestCase() { QDir::setCurrent(startDir); }

  // What was stored opens again: see the end of successfulSend.
  void openingWithNothingStored() {
    BugReport dialog("diag", nullptr);
    Form form(dialog);
    QCOMPARE(form.pseudo->text(), QString("Anonyme"));
    QCOMPARE(form.smtp->text(), QString());
    QVERIFY(!form.smtp->isEnabled());
    QVERIFY(!form.labelSmtp->isEnabled());
  }

  void failedSendAsksForServer() {
    Store("SMTP", "127.0.0.2");
    BugReport dialog("diag", nullptr, Route("127.0.0.2", RefusingPort()));
    Form form(dialog);
    dialog.show();
    form.pseudo->setText("Jean");
    form.description->setPlainText("It froze.");
    QFile::remove("Vorsk.ini");
    ModalCloser closer;
    form.send->click();
    QCOMPARE(closer.closed, QStringList{Failure});
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(dialog.isVisible());
    QVERIFY(form.smtp->isEnabled());
    QVERIFY(form.labelSmtp->isEnabled());
    QCOMPARE(form.smtp->text(), QString());
    QCOMPARE(dialog.focusWidget(), form.smtp);
    QCOMPARE(form.pseudo->text(), QString("Jean"));
    QCOMPARE(form.description->toPlainText(), QString("It froze."));
    QVERIFY(!QFile::exists("Vorsk.ini"));
  }

  void successfulSend_data() {
    // A server typed after a failure through the refusing relay, or none.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    const QString froze = "It froze.\nTwice.";
    QTest::newRow("through the built-in relay") << QString() << "Jean" << froze;
    QTest::newRow("through a typed server after a failure")
        << QString("127.0.0.1") << "Jean" << froze;
    QTest::newRow("empty name") << QString() << "" << froze;
    QTest::newRow("accents, equals signs, periods and a 2000-character line")
        << QString() << QString::fromUtf8("Jérôme")
        << QString::fromUtf8("Écran figé à 95 °C, a=b \n.\n") +
               QString::fromUtf8("ça plante. ").repeated(180) + "\t end ";
  }

  void successfulSend() {
    QFETCH(QString, typed);
    QFETCH(QString, name);
    QFETCH(QString, description);
    MailSink sink;
    ModalCloser closer;
    QStringList boxes;
    {
      BugReport dialog(
          "Intel CPU\n\nlog", nullptr,
          Route(typed.isEmpty() ? "127.0.0.1" : "127.0.0.2", sink.port));
      Form form(dialog);
      dialog.show();
      form.pseudo->setText(name);
      form.description->setPlainText(description);
      if (!typed.isEmpty()) {
        form.send->click();
        boxes << Failure;
        form.smtp->setText(typed);
      }
      form.send->click();
      boxes << Success;
      QCOMPARE(closer.closed, boxes);
      QVERIFY(!QApplication::overrideCursor());
      QCOMPARE(dialog.result(), int(QDialog::Accepted));
      QVERIFY(!dialog.isVisible());
    }
    const QJsonObject message = sink.nextLine();
    QCOMPARE(Headers(message).mid(0, 6),
             QStringList({"To: bugs@test", "From: report@test",
                          "Subject: Rapport de bug", "MIME-Version: 1.0",
                          "Content-Type: text/plain; charset=UTF-8",
                          "Content-Transfer-Encoding: quoted-printable"}));
    QVERIFY(!message.value("date").toString().isEmpty());
    QVERIFY(QRegularExpression("^<[^<>@ ]+@test>$")
                .match(message.value("messageId").toString())
                .hasMatch());
    QCOMPARE(message.value("defects").toArray().size(), 0);
    QVERIFY(message.value("longestLine").toInt() <= 76);
    const QString body = "Vorsk 1.0.4\nEnvoyé par " + name + "\n\n" +
                         description + "\n\nIntel CPU\n\nlog";
    // SMTP data ends with a line end, which belongs to the message.
    QCOMPARE(
        QByteArray::fromBase64(message.value("body").toString().toLatin1()),
        QString(body + "\n").replace("\n", "\r\n").toUtf8());
    QCOMPARE(Stored("Pseudo"), name);
    QCOMPARE(Stored("SMTP"), typed);
    // The next opening shows them: an empty name, a server typed or none.
    BugReport next("diag", nullptr);
    Form form(next);
    QCOMPARE(form.pseudo->text(), name);
    QCOMPARE(form.smtp->text(), typed);
    QCOMPARE(form.smtp->isEnabled(), !typed.isEmpty());
    QCOMPARE(form.labelSmtp->isEnabled(), !typed.isEmpty());
  }

  void closingSendsNothing_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("Annuler") << true;
    QTest::newRow("window closed") << false;
  }

  void closingSendsNothing() {
    QFETCH(bool, cancel);
    ScriptedSmtpServer server(ScriptedSmtpServer::accepting(), 300);
    BugReport dialog("diag", nullptr, Route("127.0.0.1", server.port()));
    Form form(dialog);
    dialog.show();
    form.pseudo->setText("Jean");
    if (cancel)
      form.close->click();
    else
      dialog.close();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    server.wait();
    QVERIFY(!server.wasConnected());
    QVERIFY(!QFile::exists("Vorsk.ini"));
  }
};

QTEST_MAIN(TestBugReport)
#include "tst_bugreport.moc"

#include "app/NotificationSender.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QtTest>

namespace {
const char Service[] = "org.freedesktop.Notifications";

// A notification server of the test's own: it keeps every Notify call it
// receives, arguments as they came off the bus.
class RecordingServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
  QList<QDBusMessage> calls;

public slots:
  uint Notify(const QString &, uint, const QString &, const QString &,
              const QString &, const QStringList &, const QVariantMap &, int,
              const QDBusMessage &message) {
    calls.append(message);
    return uint(calls.size());
  }
};
} // namespace

// The sender against a real bus daemon: a private session bus started for
// the test, with or without a notification server on it.
class NotificationsTest : public QObject {
  Q_OBJECT

  QTemporaryDir Folder;
  QProcess Daemon;
  QString Address;

private slots:
  // A bus of its own configuration: it starts no service, so that the
  // machine's installed notification daemons stay out of the test.
  void initTestCase() {
    QVERIFY(Folder.isValid());
    QFile config(Folder.filePath("bus.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QString(R"(<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                     .arg(Folder.path())
                     .toUtf8());
    config.close();
    Daemon.start("dbus-daemon", {"--config-file=" + config.fileName(),
                                 "--nofork", "--nopidfile", "--print-address"});
    QVERIFY2(Daemon.waitForStarted(), "dbus-daemon is missing");
    QVERIFY(Daemon.waitForReadyRead(10000));
    Address = QString::fromUtf8(Daemon.readLine()).trimmed();
    QVERIFY(!Address.isEmpty());
  }
  // Closing a connection gives up the names it owns.
  void cleanup() {
    QDBusConnection::disconnectFromBus("server");
    QDBusConnection::disconnectFromBus("sender");
  }
  void cleanupTestCase() {
    Daemon.terminate();
    Daemon.waitForFinished();
  }

  void verdictReachesTheServer_data() {
    QTest::addColumn<bool>("serverRuns");
    QTest::addColumn<bool>("failure");
    QTest::addColumn<int>("urgency");
    QTest::newRow("stable: normal urgency") << true << false << 1;
    QTest::newRow("unstable: critical urgency") << true << true << 2;
    QTest::newRow("no server: left to the tray") << false << true << 0;
  }
  void verdictReachesTheServer() {
    QFETCH(bool, serverRuns);
    QFETCH(bool, failure);
    QFETCH(int, urgency);
    RecordingServer server;
    QDBusConnection serverBus =
        QDBusConnection::connectToBus(Address, "server");
    QVERIFY(serverBus.isConnected());
    if (serverRuns) {
      QVERIFY(serverBus.registerObject("/org/freedesktop/Notifications",
                                       &server,
                                       QDBusConnection::ExportAllSlots));
      QVERIFY(serverBus.registerService(Service));
    }
    NotificationSender sender("Vorsk", "invalid.vorsk.Vorsk",
                              QDBusConnection::connectToBus(Address, "sender"));
    const DesktopNotice notice{"Votre PC n'est pas stable !", "Fake Processor",
                               failure};
    QCOMPARE(sender.send(notice), serverRuns);
    if (!serverRuns)
      return;
    QTRY_COMPARE(server.calls.size(), 1);
    const QList<QVariant> args = server.calls.first().arguments();
    QCOMPARE(args.size(), 8);
    QCOMPARE(args[0].toString(), QString("Vorsk"));
    QCOMPARE(args[2].toString(), QString("invalid.vorsk.Vorsk"));
    QCOMPARE(args[3].toString(), notice.title);
    QCOMPARE(args[4].toString(), notice.message);
    QVariantMap hints;
    args[6].value<QDBusArgument>() >> hints;
    QCOMPARE(hints["urgency"].userType(), int(QMetaType::UChar));
    QCOMPARE(int(hints["urgency"].value<uchar>()), urgency);
    QCOMPARE(hints["desktop-entry"].toString(), QString("invalid.vorsk.Vorsk"));
  }
};

QTEST_GUILESS_MAIN(NotificationsTest)
#include "tst_notifications.moc"

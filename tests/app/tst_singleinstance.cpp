#include "app/SingleInstance.h"

#include <QHostInfo>
#include <QTemporaryDir>
#include <QtTest>

class SingleInstanceTest : public QObject {
  Q_OBJECT

  QTemporaryDir folder;
  QString one, two; // working folders

private slots:
  void initTestCase() {
    one = folder.filePath("one");
    two = folder.filePath("two");
    QVERIFY(QDir().mkpath(one) && QDir().mkpath(two));
  }

  void laterStartShowsTheFirst() {
    SingleInstance first(folder.path(), one);
    QVERIFY(first.claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    // A run lasts hours: an old lock of a live process still holds.
    QFile lock(
        folder.filePath(QDir(folder.path()).entryList({"*.lock"}).value(0)));
    QVERIFY(lock.open(QIODevice::ReadWrite));
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-7200),
                             QFileDevice::FileModificationTime));
    lock.close();
    SingleInstance later(folder.path(), one);
    QVERIFY(!later.claim());
    QVERIFY(later.showRunning());
    QVERIFY(shown.wait(10000));
    SingleInstance otherFolder(folder.path(), two);
    QVERIFY(otherFolder.claim());
  }

  // A crash leaves the lock, naming a process that is gone, and the socket.
  void crashedInstanceIsTakenOver() {
    QString base;
    {
      SingleInstance crashed(folder.path(), one);
      QVERIFY(crashed.claim());
      const QStringList locks = QDir(folder.path()).entryList({"*.lock"});
      QCOMPARE(locks.size(), 1);
      base = folder.filePath(locks[0].chopped(5));
    }
    QProcess gone;
    gone.start("true", QStringList());
    QVERIFY(gone.waitForStarted());
    const qint64 pid = gone.processId();
    QVERIFY(gone.waitForFinished());
    QFile lock(base + ".lock");
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QString("%1\n%2\n%3\n")
                   .arg(pid)
                   .arg(QCoreApplication::applicationName(),
                        QHostInfo::localHostName())
                   .toUtf8());
    lock.close();
    QFile socket(base + ".socket");
    QVERIFY(socket.open(QIODevice::WriteOnly));
    socket.close();

    SingleInstance next(folder.path(), one);
    QVERIFY(next.claim());
    QSignalSpy shown(&next, &SingleInstance::showRequested);
    SingleInstance later(folder.path(), one);
    QVERIFY(!later.claim());
    QVERIFY(later.showRunning());
    QVERIFY(shown.wait(10000));
  }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"

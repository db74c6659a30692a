#include "app/SingleInstance.h"

#include <QHostInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <future>

using Holder = SingleInstance::Holder;

class SingleInstanceTest : public QObject {
  Q_OBJECT

  static QString lockOf(const QTemporaryDir &folder) {
    return folder.filePath(
        QDir(folder.path()).entryList({"*.lock"}, QDir::Files).value(0));
  }
  static bool rewrite(const QString &path, const QByteArray &contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(contents) == contents.size();
  }

private slots:
  // What a later start finds in the folder; the lock's contents are
  // rewritten once the first instance holds it: "old" ages it by two hours,
  // "garbled" makes it unreadable, "gone" names a process that ended.
  void laterStart_data() {
    QTest::addColumn<int>("first");    // Holder, Nothing for a crashed one
    QTest::addColumn<QString>("lock"); // "", "old", "garbled", "gone"
    QTest::addColumn<int>("found");    // Holder, -1 when it runs
    QTest::newRow("window, its lock hours old")
        << int(Holder::Window) << "old" << int(Holder::Window);
    QTest::newRow("headless run")
        << int(Holder::Headless) << "" << int(Holder::Headless);
    QTest::newRow("live holder, lock unreadable")
        << int(Holder::Headless) << "garbled" << int(Holder::Headless);
    QTest::newRow("crashed, its lock unreadable")
        << int(Holder::Nothing) << "garbled" << -1;
    QTest::newRow("crashed, its lock naming a process gone")
        << int(Holder::Nothing) << "gone" << -1;
  }
  void laterStart() {
    QFETCH(int, first);
    QFETCH(QString, lock);
    QFETCH(int, found);
    QTemporaryDir folder;
    QString lockFile;
    {
      auto holder = std::make_unique<SingleInstance>(
          folder.path(),
          first == int(Holder::Window) ? Holder::Window : Holder::Headless);
      QVERIFY(holder->claim());
      lockFile = lockOf(folder);
      QVERIFY(!lockFile.isEmpty());
      if (lock == "old") {
        QFile file(lockFile);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-7200),
                                 QFileDevice::FileModificationTime));
      }
      if (lock == "garbled")
        QVERIFY(rewrite(lockFile, "\x01\xff not a lock"));
      QSignalSpy shown(holder.get(), &SingleInstance::showRequested);
      if (first == int(Holder::Nothing)) {
        // Its process dies holding the lock: the file stays, not the lock.
        QFile::copy(lockFile, lockFile + ".kept");
        holder.reset();
        QVERIFY(QFile::rename(lockFile + ".kept", lockFile));
      }
      if (lock == "gone") {
        QProcess gone;
        gone.start("true", QStringList());
        QVERIFY(gone.waitForFinished());
        QVERIFY(rewrite(lockFile, QString("%1\n%2\n%3\n")
                                      .arg(gone.processId())
                                      .arg(QCoreApplication::applicationName(),
                                           QHostInfo::localHostName())
                                      .toUtf8()));
      }

      // On a thread of its own, as this one's events serve the holder.
      auto later = std::async(std::launch::async, [&folder] {
        SingleInstance instance(folder.path(), Holder::Window);
        return instance.claim() ? -1 : int(instance.contactRunning());
      });
      QTRY_VERIFY(later.wait_for(std::chrono::seconds(0)) ==
                  std::future_status::ready);
      QCOMPARE(later.get(), found);
      QCOMPARE(shown.count(), found == int(Holder::Window) ? 1 : 0);
    }
    QVERIFY(!QFile::exists(lockFile));
  }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"

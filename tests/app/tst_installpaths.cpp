#include "platform/linux/InstallPaths.h"
#include "settings/DataFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using Folders = std::vector<std::string>;
Q_DECLARE_METATYPE(Folders)

// Where the files are found once installed: the engine in the private
// library folder, the settings and logs in the working folder or the user's.
class InstallPathsTest : public QObject {
  Q_OBJECT

private slots:
  void libraryFolders_data() {
    QTest::addColumn<QString>("executableDir");
    QTest::addColumn<Folders>("folders");
    const std::string lib = std::string("/") + VORSK_PKGLIBDIR;
    QTest::newRow("installed program")
        << "/usr/bin" << Folders{"/usr/bin", "/usr" + lib, "."};
    QTest::newRow("installed private program, moved prefix")
        << QString("/opt/v/") + VORSK_PKGLIBEXECDIR
        << Folders{std::string("/opt/v/") + VORSK_PKGLIBEXECDIR, "/opt/v" + lib,
                   "."};
    QTest::newRow("build tree") << "/home/u/vorsk/build/tests"
                                << Folders{"/home/u/vorsk/build/tests", "."};
    QTest::newRow("folder merely containing bin")
        << "/home/u/bin/vorsk" << Folders{"/home/u/bin/vorsk", "."};
  }

  void libraryFolders() {
    QFETCH(QString, executableDir);
    QFETCH(Folders, folders);
    QCOMPARE(::libraryFolders(executableDir.toStdString()), folders);
  }

  // The worker program beside the executable wins; an installed one is in
  // the private program folder.
  void workerProgram() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString bin = root.filePath("usr/bin");
    const QString libexec =
        root.filePath(QString("usr/") + VORSK_PKGLIBEXECDIR);
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(libexec));
    const std::string installed = (libexec + "/vorsk-worker").toStdString();
    QCOMPARE(privateProgramPath(bin.toStdString(), "vorsk-worker"), installed);
    QFile beside(bin + "/vorsk-worker");
    QVERIFY(beside.open(QIODevice::WriteOnly));
    beside.setPermissions(beside.permissions() | QFile::ExeOwner);
    beside.close();
    QCOMPARE(privateProgramPath(bin.toStdString(), "vorsk-worker"),
             beside.fileName().toStdString());
    QCOMPARE(privateProgramPath("/home/u/build/tests", "vorsk-worker"),
             std::string("/home/u/build/tests/vorsk-worker"));
  }

  void dataFolder_data() {
    QTest::addColumn<bool>("holdsSettings");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("userFolderPossible");
    QTest::addColumn<bool>("keepsWorkingFolder");
    QTest::newRow("writable folder with its settings")
        << true << true << true << true;
    QTest::newRow("writable folder without settings (menu, first run)")
        << false << true << true << false;
    QTest::newRow("folder with settings it cannot write")
        << true << false << true << false;
    QTest::newRow("no user folder can be made")
        << false << true << false << true;
  }

  void dataFolder() {
    QFETCH(bool, holdsSettings);
    QFETCH(bool, writable);
    QFETCH(bool, userFolderPossible);
    QFETCH(bool, keepsWorkingFolder);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString working = root.filePath("working");
    const QString user = userFolderPossible ? root.filePath("home/data/vorsk")
                                            : "/proc/vorsk/data";
    QVERIFY(QDir().mkpath(working));
    if (holdsSettings) {
      QFile ini(QDir(working).filePath("Vorsk.ini"));
      QVERIFY(ini.open(QIODevice::WriteOnly));
    }
    if (!writable) {
      QFile::setPermissions(working, QFile::ReadOwner | QFile::ExeOwner);
      QFile probe(QDir(working).filePath("probe"));
      if (probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        QFile::setPermissions(working, QFile::ReadOwner | QFile::WriteOwner |
                                           QFile::ExeOwner);
        QSKIP("permissions do not bind this user (root)");
      }
    }

    const QString chosen = chooseDataFolder(working, user);
    QFile::setPermissions(working, QFile::ReadOwner | QFile::WriteOwner |
                                       QFile::ExeOwner);
    QCOMPARE(chosen, keepsWorkingFolder ? working : user);
    QVERIFY(QDir(chosen).exists());
    QCOMPARE(QDir(working).entryList(QDir::Files),
             holdsSettings ? QStringList{"Vorsk.ini"} : QStringList{});
  }
};

QTEST_GUILESS_MAIN(InstallPathsTest)
#include "tst_installpaths.moc"

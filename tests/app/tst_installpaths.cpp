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

  // A folder others can write keeps nothing of the user's: settings planted
  // there would start a run unasked, a link there would have a log written
  // over any file of the user.
  void dataFolder_data() {
    QTest::addColumn<QString>("settings"); // "", "file" or "link"
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("othersWrite");
    QTest::addColumn<bool>("userFolderPossible");
    // "working", "user", or "fresh": a new folder of this user's alone.
    QTest::addColumn<QString>("chosen");
    QTest::newRow("writable folder with its settings")
        << "file" << true << false << true << "working";
    QTest::newRow("writable folder without settings (menu, first run)")
        << "" << true << false << true << "user";
    QTest::newRow("folder with settings it cannot write")
        << "file" << false << false << true << "user";
    QTest::newRow("no user folder can be made")
        << "" << true << false << false << "working";
    QTest::newRow("settings in a folder others can write (/tmp)")
        << "file" << true << true << true << "user";
    QTest::newRow("no user folder, settings in a folder others can write")
        << "file" << true << true << false << "fresh";
    QTest::newRow("settings that are a link to another file")
        << "link" << true << false << true << "user";
  }

  void dataFolder() {
    QFETCH(QString, settings);
    QFETCH(bool, writable);
    QFETCH(bool, othersWrite);
    QFETCH(bool, userFolderPossible);
    QFETCH(QString, chosen);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString working = root.filePath("working");
    const QString user = userFolderPossible ? root.filePath("home/data/vorsk")
                                            : "/proc/vorsk/data";
    QVERIFY(QDir().mkpath(working));
    const QString ini = QDir(working).filePath("Vorsk.ini");
    if (settings == "file") {
      QFile file(ini);
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
    if (settings == "link") {
      QFile target(root.filePath("elsewhere.ini"));
      QVERIFY(target.open(QIODevice::WriteOnly));
      QVERIFY(QFile::link(target.fileName(), ini));
    }
    if (othersWrite)
      QFile::setPermissions(working, QFile::permissions(working) |
                                         QFile::WriteGroup | QFile::WriteOther);
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

    const QString folder = chooseDataFolder(working, user);
    QFile::setPermissions(working, QFile::ReadOwner | QFile::WriteOwner |
                                       QFile::ExeOwner);
    const bool fresh = folder != working && folder != user;
    // A folder the choice made is this user's alone, whatever the umask.
    const QFile::Permissions made =
        QFile::permissions(folder) & QFile::Permissions(0x7077);
    if (fresh)
      QDir(folder).removeRecursively();
    QCOMPARE(QString(fresh               ? "fresh"
                     : folder == working ? "working"
                                         : "user"),
             chosen);
    if (chosen != "working")
      QCOMPARE(made, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(QDir(working).entryList(QDir::Files | QDir::System),
             settings.isEmpty() ? QStringList{} : QStringList{"Vorsk.ini"});
  }
};

QTEST_GUILESS_MAIN(InstallPathsTest)
#include "tst_installpaths.moc"

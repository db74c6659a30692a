#include "platform/linux/LinuxPlatform.h"
#include "sensors/Publisher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SharedMemoryRefusal)

namespace {

// A name of this test process's own under /dev/shm.
std::string shmName(const char *suffix) {
  return "vorsk-test-" + std::to_string(getpid()) + "-" + suffix;
}

std::vector<unsigned char> pattern(size_t size) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  return bytes;
}

// A file copied for one test and removed when the test leaves.
class CopiedFile {
public:
  CopiedFile(const QString &from, const QString &to) : path(to) {
    QFile::remove(to);
    copied = QFile::copy(from, to);
  }
  ~CopiedFile() { QFile::remove(path); }

  QString path;
  bool copied = false;
};

// Enters a directory for one test and leaves it when the test leaves.
struct WorkingDirectory {
  explicit WorkingDirectory(const QString &path) { QDir::setCurrent(path); }
  ~WorkingDirectory() { QDir::setCurrent(before); }
  const QString before = QDir::currentPath();
};

void readRow(const char *name, size_t size, size_t offset, size_t length,
             bool fits) {
  QTest::newRow(name) << size << offset << length << fits;
}

int callFixture(Platform &p, LibraryHandle library) {
  auto fixtureValue =
      reinterpret_cast<int (*)()>(p.getProcAddress(library, "fixtureValue"));
  return fixtureValue ? fixtureValue() : -1;
}

} // namespace

class LinuxResourcesTest : public QObject {
  Q_OBJECT

  Platform &p = linuxPlatform();

private slots:
  void sharedMemoryReadsAreBounded_data() {
    QTest::addColumn<size_t>("size");
    QTest::addColumn<size_t>("offset");
    QTest::addColumn<size_t>("length");
    QTest::addColumn<bool>("fits");
    const size_t all = ~size_t(0);
    readRow("whole object", 100, 0, 100, true);
    readRow("a field inside", 100, 10, 8, true);
    readRow("last byte", 100, 99, 1, true);
    readRow("one byte past the end", 100, 96, 5, false);
    readRow("offset at the end", 100, 100, 1, false);
    readRow("length beyond the end", 100, 1, all, false);
    readRow("offset wrapping around", 100, all, 2, false);
    readRow("empty object", 0, 0, 1, false);
    readRow("empty object, nothing asked", 0, 0, 0, true);
  }

  void sharedMemoryReadsAreBounded() {
    QFETCH(size_t, size);
    QFETCH(size_t, offset);
    QFETCH(size_t, length);
    QFETCH(bool, fits);
    std::vector<unsigned char> bytes = pattern(size);
    const SharedObject object(shmName("bounded"), bytes);
    std::unique_ptr<SharedMemoryView> view =
        p.openSharedMemory(shmName("bounded"));
    QVERIFY(view);
    QCOMPARE(view->size(), size);

    std::vector<unsigned char> out(128, 0xEE);
    size_t copied = fits ? length : 0;
    QCOMPARE(view->read(offset, out.data(), length), fits);
    if (fits)
      QVERIFY(std::memcmp(out.data(), bytes.data() + offset, length) == 0);
    QVERIFY(std::all_of(out.begin() + long(copied), out.end(),
                        [](unsigned char c) { return c == 0xEE; }));
  }

  void publisherShrinkingItsObjectCannotHurtTheReader() {
    const std::string name = shmName("shrinks");
    const SharedObject object(name, pattern(16));
    std::unique_ptr<SharedMemoryView> view = p.openSharedMemory(name);
    QVERIFY(view);
    int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
    QVERIFY(fd >= 0);
    QCOMPARE(ftruncate(fd, 0), 0);
    close(fd);
    unsigned char byte = 0;
    QVERIFY(view->read(15, &byte, 1));
    QCOMPARE(byte, pattern(16)[15]);
  }

  void absentSharedMemoryGivesNothing() {
    QVERIFY(!p.openSharedMemory(shmName("absent")));
    QVERIFY(!p.openSharedMemory(""));
  }

  // What another local user may put under a source's name. Opening must
  // neither block (a FIFO without writer) nor trust someone else's values.
  void refusesObjectsItCannotTrust_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<SharedMemoryRefusal>("refusal");
    QTest::newRow("FIFO") << "fifo" << SharedMemoryRefusal::NotRegularFile;
    QTest::newRow("directory") << "dir" << SharedMemoryRefusal::NotRegularFile;
    QTest::newRow("socket") << "socket" << SharedMemoryRefusal::Missing;
    QTest::newRow("another user's object")
        << "foreign" << SharedMemoryRefusal::ForeignOwner;
    QTest::newRow("own object") << "own" << SharedMemoryRefusal::None;
  }

  void refusesObjectsItCannotTrust() {
    QFETCH(QString, kind);
    QFETCH(SharedMemoryRefusal, refusal);
    const std::string name = shmName("x");
    const std::string path = "/dev/shm/" + name;
    struct Remove {
      std::string path;
      ~Remove() { remove(path.c_str()); }
    } removeAtExit{path};
    if (kind == "fifo") {
      QCOMPARE(mkfifo(path.c_str(), 0600), 0);
    } else if (kind == "dir") {
      QCOMPARE(mkdir(path.c_str(), 0700), 0);
    } else if (kind == "socket") {
      int s = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strcpy(address.sun_path, path.c_str());
      QCOMPARE(bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address),
               0);
      close(s);
    } else {
      int fd = creat(path.c_str(), 0644);
      QVERIFY(fd >= 0);
      close(fd);
      if (kind == "foreign" &&
          chown(path.c_str(), geteuid() + 1, getegid()) != 0)
        QSKIP("giving a file to another user needs root");
    }
    SharedMemoryRefusal why = SharedMemoryRefusal::None;
    std::unique_ptr<SharedMemoryView> view = p.openSharedMemory(name, &why);
    QCOMPARE(why, refusal);
    QCOMPARE(view != nullptr, refusal == SharedMemoryRefusal::None);
  }

  void libraryLoading_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("value");
    QTest::newRow("absolute path") << FIXTURE1_PATH << 1;
    QTest::newRow("bare name in the working directory")
        << "WorkingDirFixture.so" << 2;
    QTest::newRow("bare name beside the executable before the working "
                  "directory")
        << "BesideFixture.so" << 1;
    QTest::newRow("bare name in the working directory, others may write it")
        << "SharedFixture.so" << -1;
    QTest::newRow("bare name found nowhere") << "PlatformFixture1.so" << -1;
    QTest::newRow("missing path") << "/nonexistent/PlatformFixture1.so" << -1;
    QTest::newRow("file that is no library") << "NotALibrary.so" << -1;
  }

  void libraryLoading() {
    QFETCH(QString, fileName);
    QFETCH(int, value);
    QString exeDir = QCoreApplication::applicationDirPath();
    // A working directory apart from the executable's, as once installed.
    QTemporaryDir working;
    const WorkingDirectory entered(working.path());
    CopiedFile workingDir(FIXTURE2_PATH, "WorkingDirFixture.so");
    CopiedFile besideWorking(FIXTURE2_PATH, "BesideFixture.so");
    CopiedFile beside(FIXTURE1_PATH, exeDir + "/BesideFixture.so");
    CopiedFile shared(FIXTURE2_PATH, "SharedFixture.so");
    QVERIFY(workingDir.copied && besideWorking.copied && beside.copied &&
            shared.copied);
    QVERIFY(QFile::setPermissions(shared.path, QFile::permissions(shared.path) |
                                                   QFile::WriteOther));
    QFile notALibrary("NotALibrary.so");
    QVERIFY(notALibrary.open(QIODevice::WriteOnly));
    notALibrary.write("not an ELF file");
    notALibrary.close();

    LibraryHandle library = p.loadLibrary(fileName.toStdString());
    notALibrary.remove();
    QCOMPARE(library != nullptr, value != -1);
    if (!library) { // and no library is harmless
      QVERIFY(!p.getProcAddress(nullptr, "fixtureValue"));
      p.freeLibrary(nullptr);
      return;
    }
    QCOMPARE(callFixture(p, library), value);
    QVERIFY(!p.getProcAddress(library, "noSuchFunction"));
    p.freeLibrary(library);
  }

  // The files kept in the working folder: only the user's own regular
  // files, never through a link, never waiting on a FIFO nobody writes.
  void ownFilesRefuseWhatOthersCouldPlant_data() {
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("opened");
    QTest::newRow("the user's own file") << "file" << true;
    QTest::newRow("link to another file of the user's") << "link" << false;
    QTest::newRow("FIFO") << "fifo" << false;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("another user's file") << "other" << false;
  }

  void ownFilesRefuseWhatOthersCouldPlant() {
    QFETCH(QString, planted);
    QFETCH(bool, opened);
    QTemporaryDir dir;
    const std::string target = dir.filePath("target").toStdString();
    const std::string name = dir.filePath("Event.log").toStdString();
    QVERIFY(replaceOwnFile(target, "kept\n"));
    if (planted == "file" || planted == "other")
      QVERIFY(replaceOwnFile(name, "old\n"));
    if (planted == "other" &&
        (geteuid() != 0 || chown(name.c_str(), 65534, 65534) != 0))
      QSKIP("only root can give a file to another user");
    if (planted == "link")
      QCOMPARE(symlink(target.c_str(), name.c_str()), 0);
    if (planted == "fifo")
      QCOMPARE(mkfifo(name.c_str(), 0600), 0);
    if (planted == "folder")
      QCOMPARE(mkdir(name.c_str(), 0700), 0);

    std::string bytes;
    QCOMPARE(readOwnFile(name, &bytes), opened);
    QCOMPARE(appendOwnFile(name, "added\n"), opened);
    if (opened) {
      QVERIFY(readOwnFile(name, &bytes));
      QCOMPARE(bytes, std::string("old\nadded\n"));
    }
    // Replacing renames a new file over the name, never writes through it.
    if (planted == "link")
      QVERIFY(replaceOwnFile(name, "new\n"));
    QVERIFY(readOwnFile(target, &bytes));
    QCOMPARE(bytes, std::string("kept\n"));
  }
};

QTEST_GUILESS_MAIN(LinuxResourcesTest)
#include "tst_linuxresources.moc"

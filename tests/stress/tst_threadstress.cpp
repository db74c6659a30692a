#include "platform/fake/FakePlatform.h"
#include "platform/linux/LinuxPlatform.h"
#include "stress/EngineContract.h"
#include "stress/EngineFiles.h"
#include "stress/ThreadStress.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QString fixture(const char *name) {
  return QString(FIXTURE_DIR "/%1.so").arg(name);
}

// Installs fixture engine `name` under `file` in the working directory.
void install(const char *name, const QString &file) {
  QFile::remove(file); // a new file, never one rewritten in place
  QVERIFY(QFile::copy(fixture(name), file));
}

void removeEngines() {
  for (const QString &f : QDir().entryList({"Burnmod*.so"}))
    QFile::remove(f);
}

uintptr_t worker(int k) { return uintptr_t(k); }
} // namespace

class ThreadStressTest : public QObject {
  Q_OBJECT

private slots:
  void init() {
    removeEngines();
    setStopFlagLowByte(&bStopTest, 1);
  }
  void cleanup() { removeEngines(); }

  void fileNames() {
    QCOMPARE(QString::fromStdString(engineFileName(0)), QString("Burnmod.so"));
    QCOMPARE(QString::fromStdString(engineFileName(1)), QString("Burnmod1.so"));
    QCOMPARE(QString::fromStdString(engineFileName(31)),
             QString("Burnmod31.so"));
  }

  void runTestArgumentNeverDividesByZero_data() {
    QTest::addColumn<unsigned>("perPackage");
    QTest::addColumn<unsigned>("packages");
    QTest::addColumn<unsigned>("size");
    QTest::addColumn<unsigned>("logical");
    QTest::addColumn<int>("expected");
    QTest::newRow("2 MB shared by 2 logical")
        << 1u << 1u << 2048u << 2u << 1024;
    QTest::newRow("truncated") << 1u << 1u << 1000u << 3u << 333;
    QTest::newRow("two packages of two caches")
        << 2u << 2u << 512u << 4u << 512;
    QTest::newRow("no logical processor") << 1u << 1u << 512u << 0u << 0;
    QTest::newRow("no cache reported") << 0u << 1u << 512u << 2u << 0;
  }
  void runTestArgumentNeverDividesByZero() {
    QFETCH(unsigned, perPackage);
    QFETCH(unsigned, packages);
    QFETCH(unsigned, size);
    QFETCH(unsigned, logical);
    QFETCH(int, expected);
    QCOMPARE(ComputeRunTestArgument(perPackage, packages, size, logical),
             expected);
  }

  void workerRejectsIndexAbove31WithoutLoading() {
    FakePlatformScope scope;
    QCOMPARE(ThreadStress(reinterpret_cast<void *>(worker(32))),
             uint32_t(WORKER_BAD_INDEX));
    QVERIFY(scope.fake.loadedLibraries.empty());
  }

  void missingFileOrExportIsFileAccessAndUnloads() {
    FakePlatformScope scope;
    scope.fake.addLibrary("Burnmod.so", {{"SetStopTest", nullptr}});
    scope.fake.addLibrary("Burnmod1.so", {});
    QCOMPARE(ThreadStress(nullptr), uint32_t(WORKER_FILE_ACCESS));
    QCOMPARE(ThreadStress(reinterpret_cast<void *>(worker(1))),
             uint32_t(WORKER_FILE_ACCESS));
    QCOMPARE(ThreadStress(reinterpret_cast<void *>(worker(2))),
             uint32_t(WORKER_FILE_ACCESS));
    QCOMPARE(scope.fake.openLibraries, 0);
  }

  void realEngineFilesPerWorker() {
    install("return_argument", "Burnmod.so");
    install("return_argument", "Burnmod1.so");
    RunTestArgument = 42;
    QCOMPARE(ThreadStress(nullptr), 42u);
    QCOMPARE(ThreadStress(reinterpret_cast<void *>(worker(1))), 42u);
    RunTestArgument = 3;
    QCOMPARE(ThreadStress(nullptr), 3u);
    QCOMPARE(ThreadStress(reinterpret_cast<void *>(worker(2))),
             uint32_t(WORKER_FILE_ACCESS));
    RunTestArgument = 0;

    install("no_runtest", "Burnmod.so");
    QCOMPARE(ThreadStress(nullptr), uint32_t(WORKER_FILE_ACCESS));
  }

  void workersOnRealThreadsHonourTheStopFlag() {
    install("until_stop", "Burnmod.so");
    install("until_stop", "Burnmod1.so");
    Platform &os = linuxPlatform();
    setStopFlagLowByte(&bStopTest, 0);
    ThreadHandle threads[2];
    for (int i = 0; i < 2; ++i) {
      threads[i] = os.createThreadSuspended(
          ThreadStress, reinterpret_cast<void *>(worker(i)));
      QVERIFY(threads[i]);
      QVERIFY(os.setThreadAffinityMask(threads[i], uint64_t(1) << i));
      QCOMPARE(os.resumeThread(threads[i]), 1u);
    }
    QCOMPARE(os.waitForThread(threads[0], 200), WaitResult::TimedOut);
    uint32_t code = 0;
    QVERIFY(os.getExitCodeThread(threads[1], &code));
    QCOMPARE(code, STILL_ACTIVE);

    setStopFlagLowByte(&bStopTest, 1);
    for (ThreadHandle h : threads) {
      QCOMPARE(os.waitForThread(h, 5000), WaitResult::Ended);
      QVERIFY(os.getExitCodeThread(h, &code));
      QCOMPARE(code, 0u);
      QVERIFY(os.closeHandle(h));
    }
  }

  void copiesAreMadeAndRefreshed() {
    QTemporaryDir emptyExeDir;
    install("return_argument", "Burnmod.so");
    install("until_stop", "Burnmod2.so"); // left over from an older engine
    install("return_argument", "Burnmod3.so");
    const QDateTime untouched = QFileInfo("Burnmod3.so").lastModified();

    PrepareEngineCopies(4, emptyExeDir.path());

    QFile engine("Burnmod.so");
    QVERIFY(engine.open(QIODevice::ReadOnly));
    const QByteArray content = engine.readAll();
    for (const char *copy : {"Burnmod1.so", "Burnmod2.so", "Burnmod3.so"}) {
      QFile f(copy);
      QVERIFY2(f.open(QIODevice::ReadOnly), copy);
      QVERIFY2(f.readAll() == content, copy);
    }
    QCOMPARE(QFileInfo("Burnmod3.so").lastModified(), untouched);
    QVERIFY(!QFile::exists("Burnmod4.so"));
  }

  void copiesFollowTheEngineBesideTheExecutable() {
    QTemporaryDir exeDir;
    QVERIFY(
        QFile::copy(fixture("return_argument"), exeDir.filePath("Burnmod.so")));
    PrepareEngineCopies(2, exeDir.path());
    QVERIFY(QFile::exists(exeDir.filePath("Burnmod1.so")));
    QVERIFY(!QFile::exists("Burnmod1.so"));
  }

  void noEngineNoCopies() {
    QTemporaryDir exeDir;
    PrepareEngineCopies(4, exeDir.path());
    QVERIFY(QDir().entryList({"Burnmod*.so"}).isEmpty());
  }
};

QTEST_GUILESS_MAIN(ThreadStressTest)
#include "tst_threadstress.moc"

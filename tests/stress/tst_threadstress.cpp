#include "platform/EngineContract.h"
#include "platform/WorkerEngine.h"
#include "platform/fake/FakePlatform.h"
#include "stress/ThreadStress.h"

#include <QDir>
#include <QFile>
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

// The engines, and the files the probe leaves.
void removeEngines() {
  for (const QString &f :
       QDir().entryList({"Burnmod*.so", "started.*", "cpus.*"}))
    QFile::remove(f);
}
} // namespace

class ThreadStressTest : public QObject {
  Q_OBJECT

private slots:
  void init() {
    removeEngines();
    setStopFlagLowByte(&bStopTest, 1);
  }
  void cleanup() { removeEngines(); }

  void missingFileOrExportIsFileAccessAndUnloads() {
    FakePlatformScope scope;
    int flag = 1;
    QCOMPARE(RunWorkerEngine(&flag, 0, nullptr), uint32_t(WORKER_FILE_ACCESS));
    scope.fake.addLibrary("Burnmod.so", {{"SetStopTest", nullptr}});
    QCOMPARE(RunWorkerEngine(&flag, 0, nullptr), uint32_t(WORKER_FILE_ACCESS));
    QCOMPARE(scope.fake.openLibraries, 0);
  }

  void runsTheEngine() {
    // The probe returns its argument once stopped.
    install("probe", "Burnmod.so");
    int flag = 1;
    QCOMPARE(RunWorkerEngine(&flag, 42, nullptr), 42u);

    install("no_runtest", "Burnmod.so");
    QCOMPARE(RunWorkerEngine(&flag, 0, nullptr), uint32_t(WORKER_FILE_ACCESS));
  }
};

QTEST_GUILESS_MAIN(ThreadStressTest)
#include "tst_threadstress.moc"

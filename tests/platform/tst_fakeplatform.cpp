#include "platform/fake/FakePlatform.h"

#include <QtTest>

namespace {
uint32_t returnSeven(void *param) {
  ++*static_cast<int *>(param);
  return 7;
}
} // namespace

// The fake's own promises that other tests build on.
class FakePlatformTest : public QObject {
  Q_OBJECT

private slots:
  void failuresAreScripted() {
    FakePlatform fake;
    fake.failCall(FakePlatform::Op::CreateThread, 1);
    QVERIFY(fake.createThreadSuspended(returnSeven, nullptr) != 0);
    QCOMPARE(fake.createThreadSuspended(returnSeven, nullptr), ThreadHandle(0));
    QVERIFY(fake.createThreadSuspended(returnSeven, nullptr) != 0);
    QCOMPARE(fake.callCount(FakePlatform::Op::CreateThread), 3);

    CpuSet process, system;
    fake.failAlways(FakePlatform::Op::GetProcessAffinityMask);
    QVERIFY(!fake.getProcessAffinityMask(&process, &system));
    QVERIFY(!fake.getProcessAffinityMask(&process, &system));
    fake.failAlways(FakePlatform::Op::GetProcessAffinityMask, false);
    QVERIFY(fake.getProcessAffinityMask(&process, &system));
    QCOMPARE(process, fake.processMask);
  }

  void threadsRunOnlyWhenAsked() {
    FakePlatform fake;
    int runs = 0;
    ThreadHandle idle = fake.createThreadSuspended(returnSeven, &runs);
    QCOMPARE(fake.resumeThread(idle), 1u);
    QCOMPARE(runs, 0);
    uint32_t code = 0;
    QVERIFY(fake.getExitCodeThread(idle, &code));
    QCOMPARE(code, STILL_ACTIVE);

    fake.runOnResume = true;
    ThreadHandle run = fake.createThreadSuspended(returnSeven, &runs);
    QCOMPARE(fake.resumeThread(run), 1u);
    QCOMPARE(runs, 1);
    QCOMPARE(fake.waitForThread(run, 100), WaitResult::Ended);
    QVERIFY(fake.getExitCodeThread(run, &code));
    QCOMPARE(code, 7u);
    QCOMPARE(fake.resumeThread(run), RESUME_FAILED);
    QVERIFY(fake.closeHandle(run));
    QVERIFY(!fake.getExitCodeThread(run, &code));
  }

  void clockMovesOnlyBySleepAndTimeOuts() {
    FakePlatform fake;
    uint32_t slept = 0;
    fake.onSleep = [&](uint32_t ms) { slept = ms; };
    int64_t start = fake.performanceCounter();
    uint32_t startMs = fake.timeGetTime();
    QCOMPARE(fake.performanceCounter(), start);
    fake.sleep(250);
    QCOMPARE(slept, 250u);
    QCOMPARE(fake.performanceCounter() - start, int64_t(250'000'000));
    ThreadHandle h = fake.createThreadSuspended(returnSeven, nullptr);
    QCOMPARE(fake.waitForThread(h, 100), WaitResult::TimedOut);
    fake.advance(1000);
    QCOMPARE(fake.timeGetTime() - startMs, 1350u);
  }

  void sharedMemoryIsPublishedByName() {
    FakePlatform fake;
    QVERIFY(!fake.openSharedMemory("sensors"));
    fake.publish("sensors", {1, 2, 3});
    std::unique_ptr<SharedMemoryView> view = fake.openSharedMemory("sensors");
    QVERIFY(view);
    unsigned char bytes[3] = {};
    QVERIFY(view->read(0, bytes, 3));
    QCOMPARE(bytes[2], static_cast<unsigned char>(3));
    QVERIFY(!view->read(1, bytes, 3));
    fake.unpublish("sensors");
    QVERIFY(!fake.openSharedMemory("sensors"));
    QVERIFY(view->read(0, bytes, 3)); // an open view keeps its copy
  }
};

QTEST_GUILESS_MAIN(FakePlatformTest)
#include "tst_fakeplatform.moc"

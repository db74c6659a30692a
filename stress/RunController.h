#pragma once

#include "sensors/SensorMonitor.h"
#include "stress/Agreement.h"
#include "stress/ErrorWatch.h"
#include "stress/RunJournal.h"
#include "stress/RunResult.h"
#include "stress/RunState.h"
#include "stress/TestModes.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTime>

#include <cstdint>

struct SystemInfo;

// One supervision tick of a running test.
struct RunTick {
  QTime testTime; // processor time credited to the test so far
  double usage;   // average processor usage of this tick, per cent
  // The worker processors' mean clock in MHz: the kernel's of this tick,
  // else the load frequency sampled on this tick of the first minute; NaN
  // when there is neither.
  double clockMHz;
};

// A test run with no window: starting the workers, the one-second
// supervision (usage, test time, worker ends, hardware error counters), the
// sensor tick (readings, temperature limit, the run's sensor summary), the
// verdict, the run's result and every log line. It goes through platform()
// only, so the same logic runs on the fake platform and in a program with no
// widgets. It owns the run's state; the machine description is the caller's.
//
// Lines, colours and tool tips are the window's texts; a program with no
// window may ignore the signals it has no use for. Every signal is emitted
// synchronously, in the order the window shows them.
class RunController : public QObject, private SensorMonitor {
  Q_OBJECT

public:
  explicit RunController(QObject *parent = nullptr);

  // The test time after which a run ends on its own; 0 runs until stopped
  // (in practice 23:59:00 of test time).
  void SetDuration(int seconds);
  // The test time at which the run ends on its own (23:59:00 for none).
  QTime EndOfTest() const { return EndTime; }
  // The sensor source and limit (a negative MaxTemp is no limit). With a
  // source, one reading per second, run or not; without one, none.
  void SetSensors(const SensorChoice &choice, int maxTemp);
  // No reading until the next SetSensors (a dialog probes the sources).
  void SuspendSensors();
  // The sensor timer runs: a source was chosen and not suspended.
  bool SensorsReading() const { return SensorTimer != 0; }
  // What the next runs load; all processors all the time by default.
  void SetMode(const TestMode &mode) { Mode = mode; }
  // The seed of the next runs' units; 0 draws one for each run.
  void SetSeed(uint64_t seed) { RequestedSeed = seed; }
  // The seed of the current or last run, given in its first log line.
  uint64_t Seed() const { return RunSeed; }
  // The record of the failure worker found, or the one the comparison
  // between processors made for it; check FAILURE_NONE when there is none.
  // Read before the handles are closed (resultReady).
  FailureRecord WorkerFailure(int worker) const;
  const SensorChoice &Sensors() const { return Choice; }
  int MaxTemperature() const { return MaxTemp; }

  // Starts one worker per processor of `machine` (identified, as
  // sysinfo::InitialiseSystem leaves it) handing each engine
  // `engineArgument`; in the per-core mode, those of other cores are paused
  // at once. The machine must outlive the run: the run's clock is kept in its
  // Frequency. Emits runStarted; the first tick follows one second later.
  void Start(SystemInfo &machine, int engineArgument);
  // The user's stop: the end lines, "Test stoppé par l'utilisateur." and
  // the verdict. The workers are gone and runClosed emitted a second later.
  void StopByUser();
  // A test is running (the stop flag is down).
  bool Running() const;
  QTime CurrentTestTime() const { return TestTime; }
  RunVerdict Verdict() const { return Outcome.verdict; }
  // The workers of the run in progress or of the last one.
  const RunState &State() const { return Workers; }
  // What the last run's end established; complete once resultReady came.
  const RunResult &Result() const { return Outcome; }

  // The run timer's tick (the one-second supervision, or the clean-up after
  // a stop) and the sensor timer's; the timers call them.
  void Tick();
  void TickSensors();

  // The program closes: timers stopped, workers asked to stop and killed
  // after a short grace, late calculation errors of a judged run reported,
  // handles closed. No verdict for a run cut off here.
  void Close();
  // The run's log is kept elsewhere now (Event.log): the journal goes.
  void EndJournal();

  // Appends a log line: to the journal of the run in progress, then
  // logLine. The window's own lines go through here too.
  void Log(const QString &line);

signals:
  void logLine(const QString &line);
  // The log's background: a verdict colour ("#6D2", "#FB2", "#F43"), or
  // nullptr for the window's own (a new run).
  void logColour(const char *colour);
  void toolTip(const QString &text);
  // The processor clock to show, "4412.5 MHz".
  void frequency(const QString &text);
  // A sensor reading that reached its source, as shown ("55.0 °C", "-"),
  // then as read (NO_READING where there is none).
  void sensorText(const QString &temperature, const QString &vcore);
  void sensorReading(double temperature, double vcore);

  void runStarted();
  // The first tick: the workers run and the test may be stopped.
  void stopAllowed();
  void tick(const RunTick &tick);
  // The stop flag is up; the end lines and the verdict follow.
  void runStopped();
  // The verdict is given (after its lines). A calculation error that a
  // worker returns after a verdict emits it again with Unstable.
  void runEnded(RunVerdict verdict);
  // The workers had their second to end after the stop: the result holds
  // their ends too. runClosed follows.
  void resultReady(const RunResult &result);
  // The workers are gone and their handles closed: a new run may start.
  void runClosed();

  // What the window adds to a verdict, in this order where they come
  // together: a desktop notice (the result's end lines; failure or not),
  // the window brought back, the verdict sound, then the shutdown rule of a
  // run that ended on its own (a timed end or a failure, not a user stop).
  void endNotice(const RunResult &result);
  void restoreWindow();
  void verdictSound(bool success);
  void endedUnattended();

protected:
  void timerEvent(QTimerEvent *event) override;

private:
  void SetColour(const char *colour);
  // Pauses and lets go the workers as the mode wants them for the next
  // supervision interval.
  void ApplyMode();
  // Lets every paused worker go on, so that it sees the stop flag.
  void LoadAll();
  // Per-core: the line naming the core that started and its clock.
  void AnnounceCore();
  // Per-core: the core of a worker, -1 if none.
  int CoreOf(int worker) const;
  // The worker bound to processor entry `entry`, or -1.
  int WorkerOn(int entry) const;
  void SetVerdict(RunVerdict verdict);
  void Notify(const QStringList &lines, bool failure);
  // True when the run's average usage was plausible.
  bool StopTest();
  void ReportHardwareErrors();
  void EndRunOnFailure(const QStringList &lines, const char *colour,
                       const QString &toolTip, RunVerdict verdict);
  void ReportFailure(const QStringList &lines, const char *colour,
                     const QString &toolTip, RunVerdict verdict);
  void CleanUpTick();
  void ReportLateCalculationErrors();
  void CloseWorkerHandles();
  void StopWorkers();
  void SupervisionTick();
  void WorkerEnded(int worker, uint32_t code);
  // Each worker's exit code and signal, once they had their time to end.
  void ReadWorkerEnds();
  int WorkerSignal(int worker);
  void ScheduledEnd();
  // Reads the digests the workers published; true when a disagreement
  // ended the run.
  bool CompareWorkers();
  // Has the named workers recompute the renewal, records their failures
  // and returns the lines that tell it.
  QStringList Recheck(const Disagreement &d);

  // One sensor reading, shown and, during a run, counted.
  int GetSensorsValue();
  // The reading of a sensor tick; true when a running test must end because
  // the temperature reached MaxTemp.
  bool SensorTick();
  // The sensor part of ending a run: summary lines, the monitoring log's
  // last samples, and the reset.
  void SensorRunEnded();

  SystemInfo *Machine = nullptr;
  int EngineArgument = 0;
  RunState Workers;
  RunResult Outcome;
  SensorChoice Choice;
  int MaxTemp = -1;
  QTime EndTime{23, 59, 0};
  QTime TestTime;
  // Worker milliseconds of the run not yet whole in TestTime, in units of
  // 1/LogicalCount ms: dropping them every tick would shorten the test time
  // and push a fully loaded run above 100 per cent.
  int64_t TestTimeCarry = 0;
  // The worker whose exit ended the run and was reported then, -1 if none.
  int ReportedWorker = -1;
  // The kernel's hardware error counters over the run.
  ErrorWatch HardwareErrors;
  const char *Colour = nullptr;
  TestMode Mode;
  // Each core's logical processors, as indices in the machine's Processor.
  std::vector<std::vector<int>> Cores;
  // Per worker: whether it runs during the current supervision interval.
  std::vector<bool> Loaded;
  int Interval = 0;
  int CurrentCore = -1;
  int AnnouncedCore = -1;
  // User time and credited milliseconds of the loaded workers only: the
  // run's usage leaves out idle processors and pauses.
  uint64_t LoadedUserTime = 0;
  int64_t LoadedMs = 0;
  int TestTimer = 0;
  int SensorTimer = 0;
  uint64_t RequestedSeed = 0;
  uint64_t RunSeed = 0;
  Agreement Agree;
  // Per worker, the record of a disagreement it was named in.
  std::vector<FailureRecord> Failures;
  RunJournal Journal;
};

Q_DECLARE_METATYPE(RunTick)
Q_DECLARE_METATYPE(RunVerdict)

#include "app/HeadlessRun.h"

#include "platform/Platform.h"
#include "settings/DataFolder.h"
#include "settings/FirstSensor.h"
#include "settings/RunChoices.h"
#include "settings/RunSettings.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsKeys.h"
#include "settings/TestModeSettings.h"
#include "sysinfo/SystemInfo.h"
#include "sysinfo/SystemSummary.h"

#include <QCoreApplication>
#include <QDateTime>

RunOutcome headlessOutcome(RunVerdict verdict, bool interrupted) {
  switch (verdict) {
  case RunVerdict::Unstable:
  case RunVerdict::Temperature:
    return RunOutcome::Unstable;
  case RunVerdict::Stable:
    return interrupted ? RunOutcome::Interrupted : RunOutcome::Stable;
  case RunVerdict::Usage:
    return interrupted ? RunOutcome::Interrupted : RunOutcome::Usage;
  case RunVerdict::Stopped:
    return interrupted ? RunOutcome::Interrupted : RunOutcome::Error;
  case RunVerdict::Failed:
    break;
  }
  return RunOutcome::Error;
}

namespace {
const char *const PriorityWords[3] = {"high", "normal", "low"};
// The report's names of the sensor sources, by settings code.
const char *const SourceWords[SOURCE_LAST + 1] = {
    "none", "SysTool", "SpeedFan", "Everest",
    "MBM5", "Intel",   "K8",       "lm-sensors"};

// A stored index, or its default when out of range.
int indexOr(int index, int count, int fallback) {
  return index >= 0 && index < count ? index : fallback;
}
} // namespace

void reportResult(const RunResult &result, const SystemInfo &machine,
                  const SensorChoice &sensors, RunReport *report) {
  report->run.actualSeconds = QTime(0, 0).msecsTo(result.testTime) / 1000.0;
  for (const WorkerResult &end : result.workers) {
    RunReport::Worker worker = describeWorker(machine, end.entry);
    if (end.code != STILL_ACTIVE) {
      worker.signal = end.signal;
      if (end.signal == 0)
        worker.resultCode = int(end.code);
    }
    for (int path = 0; path < WORKER_PATH_COUNT; ++path)
      if (end.verified.verifiedFlops[path])
        worker.arithmetic.push_back(
            {workerPathName(path), double(end.verified.verifiedFlops[path])});
    for (int w = 0; w < WORKER_WORKLOAD_COUNT; ++w)
      if (end.verified.verifiedWork[w])
        worker.work.push_back({workloadNames(w).key, workloadNames(w).unit,
                               double(end.verified.verifiedWork[w])});
    worker.failure = end.failure;
    report->workers.push_back(worker);
  }
  const int source = sensors.Monitoring;
  const auto sensor = [&](const QVariant &name, const char *quantity,
                          const SensorStatistics &s) {
    if (!s.read)
      return;
    QString full = SourceWords[source];
    if (source == SOURCE_LMSENSORS && !name.toString().isEmpty())
      full += " " + name.toString();
    report->sensors.push_back({full, quantity, s.minimum, s.mean, s.maximum});
  };
  sensor(sensors.TempSensor, "temperature", result.temperature);
  sensor(sensors.VoltSensor, "voltage", result.vcore);
  report->hardwareErrorsWatched = result.hardwareErrorsWatched;
  for (const ErrorCounter &rise : result.hardwareErrorRises)
    report->hardwareErrors.push_back({QString::fromStdString(rise.source),
                                      rise.corrected, rise.uncorrected});
}

HeadlessRun::HeadlessRun(const HeadlessOptions &options, QTextStream &out,
                         QTextStream &err)
    : Options(options), Out(out), Err(err) {
  Report.version = QCoreApplication::applicationVersion();
  connect(&Controller, &RunController::logLine, this, &HeadlessRun::Print);
  connect(&Controller, &RunController::tick, this, &HeadlessRun::Progress);
  connect(&Controller, &RunController::sensorReading, this,
          [this](double temperature) { Temperature = temperature; });
  connect(&Controller, &RunController::resultReady, this,
          [this](const RunResult &result) {
            reportResult(result, m_SystemInfo, Controller.Sensors(), &Report);
          });
  connect(&Controller, &RunController::runClosed, this, [this] {
    Finish(headlessOutcome(Controller.Result().verdict, Interrupted));
  });
}

void HeadlessRun::Print(const QString &line) {
  Out << line << '\n';
  Out.flush();
  if (LogFile.isOpen()) {
    LogFile.write(line.toUtf8() + '\n');
    LogFile.flush();
  }
  Report.log << line;
}

void HeadlessRun::Complain(const QString &text) {
  Err << "vorsk: " << text << '\n';
  Err.flush();
}

void HeadlessRun::Progress(const RunTick &tick) {
  if (!ProgressEachMinute)
    return;
  // The other modes log each change of load; this one would say nothing
  // for hours. On standard output only: it is no line of the run's log.
  MinuteUsage += tick.usage;
  if (++MinuteTicks < 60)
    return;
  QString line =
      QString::asprintf("En cours : %s de test, utilisation %.1f %%",
                        qPrintable(tick.testTime.toString("hh:mm:ss")),
                        MinuteUsage / MinuteTicks);
  if (Temperature != NO_READING)
    line += QString::asprintf(", T° CPU %.1f °C", Temperature);
  Out << line << '\n';
  Out.flush();
  MinuteUsage = 0;
  MinuteTicks = 0;
}

bool HeadlessRun::Start() {
  Report.run.start = QDateTime::currentDateTimeUtc();
  if (!Options.logPath.isEmpty()) {
    LogFile.setFileName(Options.logPath);
    if (!LogFile.open(QIODevice::WriteOnly | QIODevice::Append)) {
      Complain("cannot write the log file " + Options.logPath);
      Finish(RunOutcome::Error);
      return false;
    }
  }

  // A run that never ended froze or restarted the machine: its lines come
  // first, or this run's journal would overwrite them.
  if (!passedOverFolderLine().isEmpty())
    Print(passedOverFolderLine());
  RunJournal::Interrupted previous;
  if (RunJournal::findInterrupted(&previous)) {
    for (const QString &line : previous.shownLines())
      Print(line);
    RunJournal::discard();
  }

  const auto settings = openSettings();
  const RunSettings stored = readRunSettings(*settings);
  const int priority = indexOr(stored.priority, 3, DEFAULT_PRIORITY);
  const int duration = indexOr(stored.duration, 10, DEFAULT_DURATION);
  SensorChoice sensors = stored.sensors;
  if (unsigned(sensors.Monitoring) > SOURCE_LAST)
    sensors.Monitoring = SOURCE_NONE;
  chooseFirstSensor(*settings, &sensors);
  const int maxTemp = stored.maxTemp;

  // The stored mode, with its per-core settings, unless --mode names one.
  TestMode mode = readTestMode(*settings);
  if (Options.modeGiven)
    mode.kind = TestModeKind(
        QStringList{HeadlessModes[0], HeadlessModes[1], HeadlessModes[2]}
            .indexOf(Options.mode));
  Report.run.mode = HeadlessModes[int(mode.kind)];
  const EngineLoad load =
      Options.loadGiven
          ? EngineLoad(QStringList{HeadlessLoads[0], HeadlessLoads[1]}.indexOf(
                Options.load))
          : readEngineLoad(*settings);
  Report.run.load = HeadlessLoads[int(load)];
  Report.run.priority =
      PriorityWords[priorityIndex(platform().currentPriorityClass())];
  ProgressEachMinute = mode.kind == TestModeKind::AllProcessors;
  Report.run.requestedSeconds = Options.durationGiven
                                    ? Options.durationSeconds
                                    : DurationSeconds[duration];

  CpuSet processMask;
  const sysinfo::SystemReport identification{
      [this](const QString &line) { Print(line); },
      [this](const QString &text) { Print(text); }};
  if (!sysinfo::InitialiseSystem(&processMask, identification) ||
      m_SystemInfo.LogicalCount == 0) {
    Complain("no processor to test.");
    Finish(RunOutcome::Error);
    return false;
  }
  Report.machine = describeMachine(m_SystemInfo);
  // The report names the class in force: a refused one was not in force.
  const bool refused = !platform().setPriorityClass(PriorityClasses[priority]);
  const int inForce = priorityIndex(platform().currentPriorityClass());
  if (refused) {
    Print(priorityRefusalLine(priority, inForce));
    Report.run.priorityRefused = PriorityWords[priority];
  }
  Report.run.priority = PriorityWords[inForce];

  Controller.SetDuration(int(Report.run.requestedSeconds));
  Controller.SetMode(mode);
  Controller.SetSensors(sensors, maxTemp);
  Controller.SetSeed(Options.seed);
  Controller.Start(m_SystemInfo, WithEngineLoad(l2KbPerLogical(), load));
  Report.run.seed = Controller.Seed();
  return true;
}

void HeadlessRun::Interrupt() {
  if (Interrupted || !Controller.Running())
    return;
  Interrupted = true;
  Controller.StopByUser();
}

void HeadlessRun::Finish(RunOutcome outcome) {
  Report.outcome = outcome;
  Report.run.end = QDateTime::currentDateTimeUtc();
  if (!Options.reportPath.isEmpty() &&
      !writeRunReport(Options.reportPath, Report))
    Complain("cannot write the report " + Options.reportPath);
  emit finished(outcomeExitCode(Report.outcome));
}

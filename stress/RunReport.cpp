#include "stress/RunReport.h"

#include "platform/CpuAccess.h"
#include "platform/Platform.h"
#include "platform/WorkerCounters.h"
#include "stress/FailureDetail.h"
#include "sysinfo/SystemInfo.h"
#include "sysinfo/SystemSummary.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSaveFile>

const char *outcomeWord(RunOutcome outcome) {
  switch (outcome) {
  case RunOutcome::Stable:
    return "stable";
  case RunOutcome::Unstable:
    return "unstable";
  case RunOutcome::Usage:
    return "usage";
  case RunOutcome::Interrupted:
    return "interrupted";
  case RunOutcome::Error:
    break;
  }
  return "error";
}

int outcomeExitCode(RunOutcome outcome) {
  switch (outcome) {
  case RunOutcome::Stable:
    return 0;
  case RunOutcome::Unstable:
    return 1;
  case RunOutcome::Usage:
    return 2;
  case RunOutcome::Interrupted:
    return 130;
  case RunOutcome::Error:
    break;
  }
  return 3;
}

RunReport::Machine describeMachine(const SystemInfo &info) {
  RunReport::Machine machine;
  machine.processor = sysinfo::processorNameText(info);
  machine.signature =
      QString::asprintf("0x%08X", unsigned(cpuAccess().cpuid(1, 0).eax));
  machine.instructionSets =
      sysinfo::instructionsText(info.Instructions).split(", ");
  machine.packages = info.PackageCount;
  machine.coresPerPackage = info.CoresPerPackage;
  machine.logicalPerPackage = info.LogicalPerPackage;
  machine.onlineProcessors = info.OnlineCount;
  machine.testedProcessors = info.Processor;
  machine.configuration = sysinfo::configurationText(info);
  machine.l2 = sysinfo::cacheL2Text(info);
  machine.l2TotalKb = int(info.L2TotalKb);
  machine.frequencyAtRestMHz = info.Frequency;
  CpuSet processMask, online;
  if (platform().getProcessAffinityMask(&processMask, &online))
    machine.microcode = sysinfo::microcodeRevisions(online);
  machine.kernelRelease = QString::fromStdString(platform().kernelRelease());
  machine.virtualMachine = sysinfo::hypervisorPresent();
  machine.hypervisorVendor = sysinfo::hypervisorVendor();
  return machine;
}

RunReport::Worker describeWorker(const SystemInfo &info, int entry) {
  RunReport::Worker w;
  // A worker the run could not start has no processor of its own.
  if (entry < 0 || size_t(entry) >= info.Processor.size()) {
    w.logicalProcessor = w.core = w.package = -1;
    return w;
  }
  w.logicalProcessor = info.Processor[size_t(entry)];
  if (size_t(entry) < info.Apic.size()) {
    w.core = int(info.Apic[size_t(entry)].CoreId);
    w.package = int(info.Apic[size_t(entry)].PackageId);
  }
  return w;
}

namespace {
QJsonArray numbers(const std::vector<int> &values) {
  QJsonArray array;
  for (int v : values)
    array.append(v);
  return array;
}

// 64-bit words as text: a JSON number loses their low bits.
QString hexWord(uint64_t word) {
  return QString::asprintf("0x%016llX", (unsigned long long)word);
}

QJsonValue isoTime(const QDateTime &time) {
  if (!time.isValid())
    return QJsonValue::Null;
  return time.toUTC().toString(Qt::ISODate);
}

QJsonValue textOrNull(const QString &text) {
  return text.isEmpty() ? QJsonValue() : text;
}

QJsonArray microcodeJson(const std::vector<sysinfo::Microcode> &revisions) {
  QJsonArray array;
  for (const sysinfo::Microcode &m : revisions)
    array.append(QJsonObject{{"logicalProcessor", m.processor},
                             {"revision", textOrNull(m.revision)}});
  return array;
}

QJsonObject machineJson(const RunReport::Machine &m) {
  return {
      {"processor", m.processor},
      {"signature", m.signature},
      {"instructionSets", QJsonArray::fromStringList(m.instructionSets)},
      {"topology",
       QJsonObject{{"packages", m.packages},
                   {"coresPerPackage", m.coresPerPackage},
                   {"logicalPerPackage", m.logicalPerPackage},
                   {"onlineProcessors", m.onlineProcessors},
                   {"testedProcessors", numbers(m.testedProcessors)},
                   {"text", m.configuration}}},
      {"l2", QJsonObject{{"text", m.l2}, {"totalKb", m.l2TotalKb}}},
      {"frequencyAtRestMHz", m.frequencyAtRestMHz},
      {"microcode", microcodeJson(m.microcode)},
      {"kernelRelease", m.kernelRelease},
      {"virtualMachine", m.virtualMachine},
      {"hypervisorVendor", textOrNull(m.hypervisorVendor)},
  };
}

QJsonObject runJson(const RunReport::Run &r) {
  return {{"mode", r.mode},
          {"load", r.load},
          {"priority", r.priority},
          {"priorityRefused",
           r.priorityRefused.isEmpty() ? QJsonValue() : r.priorityRefused},
          {"requestedSeconds", double(r.requestedSeconds)},
          {"actualSeconds", r.actualSeconds},
          {"start", isoTime(r.start)},
          {"end", isoTime(r.end)},
          {"seed", hexWord(r.seed)}};
}

QJsonValue failureJson(const FailureRecord &f) {
  if (f.check == FAILURE_NONE)
    return QJsonValue::Null;
  const bool workload = f.check == FAILURE_WORKLOAD;
  QJsonValue element = QJsonValue::Null;
  if (f.row >= 0)
    element = QJsonObject{{"row", f.row}, {"column", f.col}};
  else if (workload && f.col >= 0)
    element = QJsonObject{{"word", f.col}};
  return QJsonObject{
      {"check", failureCheckWord(f.check)},
      {"path", workload ? QString(f.level) : workerPathName(f.path)},
      {"unit", workload      ? workloadNames(f.kind).key
               : f.kind == 0 ? "exact"
                             : "random"},
      {"partner", f.partner < 0 ? QJsonValue(QJsonValue::Null) : f.partner},
      {"renewal", double(f.renewal)},
      {"renewalSeed", hexWord(f.renewalSeed)},
      {"element", element},
      {"expected", hexWord(f.expected)},
      {"obtained", hexWord(f.obtained)},
      {"bits", hexWord(f.expected ^ f.obtained)},
      {"differingElements", double(f.differing)},
      {"elements", double(f.elements)},
      {"afterSeconds", double(f.elapsedNs / 1000000) / 1000.0},
      {"retries", f.retries},
      {"reproduced", f.reproduced},
      {"class", f.retries == 0              ? QJsonValue(QJsonValue::Null)
                : f.reproduced == f.retries ? QJsonValue("reproducible")
                                            : QJsonValue("intermittent")}};
}

QJsonObject workerJson(const RunReport::Worker &w) {
  QJsonObject arithmetic;
  for (const RunReport::PathArithmetic &path : w.arithmetic)
    arithmetic.insert(path.path, path.verifiedFlop);
  QJsonObject work;
  for (const RunReport::Worker::Work &done : w.work)
    work.insert(done.workload, QJsonObject{{done.unit, done.amount}});
  return {{"logicalProcessor", w.logicalProcessor},
          {"core", w.core},
          {"package", w.package},
          {"resultCode",
           w.resultCode < 0 ? QJsonValue(QJsonValue::Null) : w.resultCode},
          {"signal", w.signal ? QJsonValue(w.signal) : QJsonValue::Null},
          {"verifiedFlop", arithmetic},
          {"verifiedWork", work},
          {"failure", failureJson(w.failure)}};
}
} // namespace

QJsonDocument runReportJson(const RunReport &report) {
  QJsonArray workers;
  for (const RunReport::Worker &w : report.workers)
    workers.append(workerJson(w));
  QJsonArray sensors;
  for (const RunReport::Sensor &s : report.sensors)
    sensors.append(QJsonObject{{"source", s.source},
                               {"quantity", s.quantity},
                               {"minimum", s.minimum},
                               {"mean", s.mean},
                               {"maximum", s.maximum}});
  QJsonArray counters;
  for (const RunReport::ErrorCounts &c : report.hardwareErrors)
    counters.append(QJsonObject{{"source", c.source},
                                {"corrected", double(c.corrected)},
                                {"uncorrected", double(c.uncorrected)}});
  return QJsonDocument(QJsonObject{
      {"version", report.version},
      {"machine", machineJson(report.machine)},
      {"run", runJson(report.run)},
      {"workers", workers},
      {"sensors", sensors},
      {"hardwareErrors", QJsonObject{{"watched", report.hardwareErrorsWatched},
                                     {"rises", counters}}},
      {"verdict", outcomeWord(report.outcome)},
      {"exitCode", outcomeExitCode(report.outcome)},
      {"log", QJsonArray::fromStringList(report.log)},
  });
}

bool writtenInPlace(const QString &path) {
  const QFileInfo target(path);
  const QString name = target.absoluteFilePath();
  return target.exists() && (!target.isFile() || name.startsWith("/dev/") ||
                             name.startsWith("/proc/"));
}

bool writeRunReport(const QString &path, const RunReport &report) {
  const QByteArray json = runReportJson(report).toJson(QJsonDocument::Indented);
  if (writtenInPlace(path)) {
    QFile stream(path);
    return stream.open(QIODevice::WriteOnly | QIODevice::Append) &&
           stream.write(json) == json.size() && stream.flush();
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  file.write(json);
  return file.commit();
}

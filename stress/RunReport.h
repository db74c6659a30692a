#pragma once

#include "platform/WorkerPage.h"
#include "sysinfo/MachineFacts.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

struct SystemInfo;

// How a run ended, as a scheduler reads it: a stable word for the report and
// the program's exit code. "The tester failed" (Error) stays apart from
// "the processor failed" (Unstable).
enum class RunOutcome {
  Stable,      // 0: the run reached its end with every check passed
  Unstable,    // 1: calculation error, crashed worker, hardware error,
               //    temperature limit
  Usage,       // 2: the workers did not get a plausible share of processor
  Error,       // 3: nothing could be tested (no engine, no processor, bad
               //    option, a worker that could not be started or read)
  Interrupted, // 130: stopped by a signal before its end
};

const char *outcomeWord(RunOutcome outcome);
int outcomeExitCode(RunOutcome outcome);

// Everything a report holds, gathered by the runner; plain data, so that the
// writer is tested on its own.
struct RunReport {
  QString version;

  struct Machine {
    QString processor;
    QString signature; // CPUID leaf 1 EAX, "0x00A20F12"
    QStringList instructionSets;
    int packages = 0;
    int coresPerPackage = 0;
    int logicalPerPackage = 0;
    int onlineProcessors = 0;
    std::vector<int> testedProcessors;
    QString configuration; // as the window shows it
    QString l2;            // "2 x 1024Ko"
    int l2TotalKb = 0;
    double frequencyAtRestMHz = 0;
    // Each online processor's microcode, the kernel, the hypervisor.
    std::vector<sysinfo::Microcode> microcode;
    QString kernelRelease;
    bool virtualMachine = false;
    QString hypervisorVendor; // empty: bare metal, or none given
  } machine;

  struct Run {
    QString mode;                 // "all", "per-core", "alternating"
    QString load;                 // "full", "fp"
    QString priority;             // in force: "high", "normal", "low"
    QString priorityRefused;      // the one asked for and refused, or empty
    int64_t requestedSeconds = 0; // 0: until interrupted
    double actualSeconds = 0;     // the test time the workers earned
    QDateTime start, end;
    uint64_t seed = 0; // of the units: the same seed replays the same data
  } run;

  struct PathArithmetic {
    QString path; // "AVX2+FMA"
    double verifiedFlop = 0;
  };
  struct Worker {
    int logicalProcessor = 0;
    int core = 0;
    int package = 0;
    // The engine's result code once the worker ended by itself; -1 while it
    // never ended or when a signal killed it.
    int resultCode = -1;
    int signal = 0; // the signal that killed it, 0 if none
    std::vector<PathArithmetic> arithmetic;
    FailureRecord failure; // check FAILURE_NONE: none
    // Each other workload's verified work, in its own unit; those that did
    // none left out.
    struct Work {
      QString workload, unit; // "aes", "bytes"
      double amount = 0;
    };
    std::vector<Work> work;
  };
  std::vector<Worker> workers;

  struct Sensor {
    QString source;   // "lm-sensors k10temp Tctl"
    QString quantity; // "temperature" (°C) or "voltage" (V)
    double minimum = 0, mean = 0, maximum = 0;
  };
  std::vector<Sensor> sensors;

  struct ErrorCounts {
    QString source;
    uint64_t corrected = 0, uncorrected = 0; // rises during the run
  };
  bool hardwareErrorsWatched = false;
  std::vector<ErrorCounts> hardwareErrors;

  RunOutcome outcome = RunOutcome::Error;
  QStringList log;
};

// The machine part, from the identification: the processors tested, their
// sets and topology.
RunReport::Machine describeMachine(const SystemInfo &info);
// A worker's place: the processor, core and package of `entry`, an index
// in the machine's Processor (-1: a worker that got none).
RunReport::Worker describeWorker(const SystemInfo &info, int entry);

QJsonDocument runReportJson(const RunReport &report);
// A file is written whole or not at all; a pipe or terminal is written to.
// False when the report could not be written.
bool writeRunReport(const QString &path, const RunReport &report);
// Whether path names a descriptor or a device (/dev/stdout, /dev/fd/3,
// /proc/self/fd/3) or a pipe, written in place: there is no file to replace
// and no folder to write a temporary one in. A descriptor that is a file is
// added to, as a shell's redirection expects.
bool writtenInPlace(const QString &path);

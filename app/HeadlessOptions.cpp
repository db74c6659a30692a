#include "app/HeadlessOptions.h"

#include "stress/RunReport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstring>

const char *const HeadlessModes[3] = {"all", "per-core", "alternating"};
const char *const HeadlessLoads[2] = {"full", "fp"};

bool wantsCommandLine(int argc, char *argv[]) {
  static const char *const names[] = {
      "--headless", "--duration", "--mode",     "--seed", "--load",
      "--report",   "--log",      "--data-dir", "--help", "-h",
      "-?",         "--help-all", "--version",  "-v"};
  for (int i = 1; i < argc; ++i)
    for (const char *name : names) {
      const size_t length = std::strlen(name);
      // "--duration=60" names the option too.
      if (std::strncmp(argv[i], name, length) == 0 &&
          (argv[i][length] == '\0' || argv[i][length] == '='))
        return true;
    }
  return false;
}

namespace {
void addOptions(QCommandLineParser &parser) {
  parser.setApplicationDescription(
      "Processor stability test. Without --headless, opens the window.\n"
      "\n"
      "Exit codes: 0 stable, 1 unstable (calculation error, crashed worker,\n"
      "hardware error, temperature limit), 2 processor usage implausible,\n"
      "3 could not test (no engine, no processor, bad option, a report or\n"
      "log that cannot be written) or the tester failed (a worker's own\n"
      "error, a worker killed from outside), 130 interrupted (SIGINT,\n"
      "SIGTERM or SIGHUP before the end).");
  parser.addOptions({
      {"headless", "Runs one test with no window, printing the log to "
                   "standard output, then exits with its verdict."},
      {"duration",
       "Test time in seconds; 0 runs until interrupted. Default: the "
       "duration stored in Vorsk.ini.",
       "SECONDS"},
      {"mode",
       "all (every processor at once), per-core (one core at a time) or "
       "alternating (load that comes and goes). Default: the mode stored in "
       "Vorsk.ini.",
       "MODE"},
      {"seed",
       "Seed of the units, in hexadecimal, as the log's first line of a run "
       "gives it: replays that run's data. Default: a new one.",
       "HEX"},
      {"load",
       "full (every unit of the processor: floating point, integer, vector "
       "integer, crypto, divider, last-level cache) or fp (the floating-point "
       "units alone, for the most heat). Default: the load stored in "
       "Vorsk.ini.",
       "LOAD"},
      {"report", "Writes the run's report to FILE, as JSON.", "FILE"},
      {"log", "Appends the run's log lines to FILE as they come.", "FILE"},
      {"data-dir",
       "Keeps Vorsk.ini and the run's journal in DIR, created if missing, "
       "which only this user may write. Default: the working folder when it "
       "holds this user's Vorsk.ini, else $XDG_DATA_HOME/vorsk "
       "(~/.local/share/vorsk).",
       "DIR"},
  });
}
} // namespace

HeadlessOptions parseHeadlessOptions(const QStringList &arguments) {
  QCommandLineParser parser;
  addOptions(parser);
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  HeadlessOptions options;
  options.helpText = parser.helpText();
  options.versionText = QCoreApplication::applicationName() + " " +
                        QCoreApplication::applicationVersion() + "\n";
  if (!parser.parse(arguments)) {
    options.error = parser.errorText();
    return options;
  }
  if (parser.isSet(help) || parser.isSet("help-all")) {
    options.request = HeadlessOptions::Request::Help;
    return options;
  }
  if (parser.isSet(version)) {
    options.request = HeadlessOptions::Request::Version;
    return options;
  }
  if (!parser.positionalArguments().isEmpty()) {
    options.error = "Unexpected argument: " + parser.positionalArguments()[0];
    return options;
  }
  if (!parser.isSet("headless")) {
    options.error = "The options apply to --headless only.";
    return options;
  }
  if (parser.isSet("duration")) {
    bool number = false;
    const QString text = parser.value("duration");
    options.durationSeconds = text.toLongLong(&number);
    // A test time has to fit the supervision's day-long clock, whose last
    // minute is the end of a run without one.
    if (!number || options.durationSeconds < 0 ||
        options.durationSeconds > 86340) {
      options.error = "--duration takes a number of seconds from 0 to "
                      "86340, not \"" +
                      text + "\".";
      return options;
    }
    options.durationGiven = true;
  }
  if (parser.isSet("mode")) {
    options.mode = parser.value("mode");
    options.modeGiven = true;
    if (!QStringList{HeadlessModes[0], HeadlessModes[1], HeadlessModes[2]}
             .contains(options.mode)) {
      options.error = "--mode takes all, per-core or alternating, not \"" +
                      options.mode + "\".";
      return options;
    }
  }
  if (parser.isSet("seed")) {
    bool number = false;
    const QString text = parser.value("seed");
    options.seed = text.toULongLong(&number, 16);
    if (!number || options.seed == 0) {
      options.error = "--seed takes a non-zero hexadecimal number of up to "
                      "16 digits, not \"" +
                      text + "\".";
      return options;
    }
  }
  if (parser.isSet("load")) {
    options.load = parser.value("load");
    options.loadGiven = true;
    if (!QStringList{HeadlessLoads[0], HeadlessLoads[1]}.contains(
            options.load)) {
      options.error = "--load takes full or fp, not \"" + options.load + "\".";
      return options;
    }
  }
  const auto absolute = [](const QString &path) {
    return path.isEmpty() ? path : QDir::current().absoluteFilePath(path);
  };
  options.reportPath = absolute(parser.value("report"));
  options.logPath = absolute(parser.value("log"));
  options.dataFolder = parser.value("data-dir");
  options.request = HeadlessOptions::Request::Run;
  return options;
}

namespace {
// A report is written beside its name and renamed over it, so it needs its
// folder; a log is appended to, and needs its folder only to be created. A
// pipe, a terminal or a descriptor's name is written in place.
QString unwritable(const QString &path, const char *what, bool replaced) {
  const QFileInfo target(path);
  const QString cannot = QString("cannot write the %1 %2").arg(what, path);
  if (target.isDir())
    return QString("the %1 %2 is a folder").arg(what, path);
  if (target.exists() && (writtenInPlace(path) || !replaced))
    return target.isWritable() ? QString() : cannot;
  if (!QFileInfo(target.absolutePath()).isDir())
    return QString("the folder of the %1 %2 does not exist").arg(what, path);
  QTemporaryFile probe(target.absolutePath() + "/.vorsk-XXXXXX");
  if (!probe.open() || (target.exists() && !target.isWritable()))
    return cannot;
  return {};
}
} // namespace

QString unwritableTarget(const HeadlessOptions &options) {
  if (!options.reportPath.isEmpty())
    if (QString why = unwritable(options.reportPath, "report", true);
        !why.isEmpty())
      return why;
  if (!options.logPath.isEmpty())
    return unwritable(options.logPath, "log", false);
  return {};
}

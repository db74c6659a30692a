#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// The command line of a run without a window: vorsk --headless [--duration
// SECONDS] [--mode all|per-core|alternating] [--seed HEX] [--load full|fp]
// [--report FILE] [--log FILE] [--data-dir DIR], and --help and --version.

// True when the arguments ask for the command-line program rather than the
// window: --headless, or any of its options, --help or --version. Looked at
// before any application object exists, to choose which one to create.
bool wantsCommandLine(int argc, char *argv[]);

struct HeadlessOptions {
  // What the user asked for; Help and Version are answered and the program
  // exits 0 without testing.
  enum class Request { Run, Help, Version, Invalid } request = Request::Invalid;
  QString error; // for Invalid: what is wrong, one line
  bool durationGiven = false;
  int64_t durationSeconds = 0; // 0: until interrupted
  bool modeGiven = false;
  QString mode;
  uint64_t seed = 0; // of the units; 0: one drawn for the run
  bool loadGiven = false;
  QString load; // "full" or "fp"

  // Absolute, resolved against the folder the command was started in.
  QString reportPath;
  QString logPath;
  QString dataFolder; // --data-dir, as given; empty for the usual choice
  QString helpText;
  QString versionText;
};

// Parses arguments (the program name first).
HeadlessOptions parseHeadlessOptions(const QStringList &arguments);

// Why the report or the log could not be written (its folder missing, the
// file or the folder not writable), one line; empty when both can be.
QString unwritableTarget(const HeadlessOptions &options);

// The modes by their command-line names, in the order of the settings'
// values.
extern const char *const HeadlessModes[3];
// The loads likewise, in the order of EngineLoad.
extern const char *const HeadlessLoads[2];

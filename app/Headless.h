#pragma once

// The command-line program: vorsk --headless and its options, --help and
// --version, with no window, tray or display. Returns the exit code.
int runCommandLine(int argc, char *argv[]);

#pragma once

#include <QString>
#include <string>

// "Burnmod.so" for worker 0, "Burnmod<k>.so" for worker k.
std::string engineFileName(int worker);

// Gives workers 1..logicalCount-1 their own copy of the engine, in the
// folder where the engine was found (beside the executable, else the working
// directory). A copy whose content differs from the engine is replaced, so
// that after an update no worker runs an old engine. Failures are silent:
// the worker reports the missing file when it runs.
void PrepareEngineCopies(int logicalCount, const QString &executableDir);

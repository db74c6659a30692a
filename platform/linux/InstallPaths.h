#pragma once

#include <string>
#include <vector>

// An installed copy keeps vorsk in bin/, its private programs in
// libexec/vorsk/ and its engine in lib/<arch>/vorsk/ (the build sets the
// exact folders). They are found from the running executable's folder, so
// an installed tree may be moved whole.

// The folder of the running executable; "." when it cannot be read.
std::string executableDir();

// The install prefix of an executable in the installed program folder or the
// private program folder; empty for any other folder (a build tree).
std::string installPrefix(const std::string &executableDir);

// A private program's path: beside the executable when it is there (a build
// tree), else in the private program folder of an installed copy.
std::string privateProgramPath(const std::string &executableDir,
                               const std::string &name);

// The folders a library named without a folder is looked for in, in order:
// beside the executable (a build tree), the private library folder when the
// executable is installed, then the working folder.
std::vector<std::string> libraryFolders(const std::string &executableDir);

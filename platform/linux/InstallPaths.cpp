#include "platform/linux/InstallPaths.h"

#include <unistd.h>

namespace {
bool endsWith(const std::string &text, const std::string &end) {
  return text.size() > end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}
} // namespace

std::string installPrefix(const std::string &executableDir) {
  for (const std::string folder : {VORSK_INSTALL_BINDIR, VORSK_PKGLIBEXECDIR}) {
    const std::string tail = "/" + folder;
    if (endsWith(executableDir, tail))
      return executableDir.substr(0, executableDir.size() - tail.size());
  }
  return std::string();
}

std::string privateProgramPath(const std::string &executableDir,
                               const std::string &name) {
  const std::string beside = executableDir + "/" + name;
  const std::string prefix = installPrefix(executableDir);
  if (prefix.empty() || access(beside.c_str(), X_OK) == 0)
    return beside;
  return prefix + "/" + VORSK_PKGLIBEXECDIR + "/" + name;
}

std::vector<std::string> libraryFolders(const std::string &executableDir) {
  std::vector<std::string> folders{executableDir};
  const std::string prefix = installPrefix(executableDir);
  if (!prefix.empty())
    folders.push_back(prefix + "/" + VORSK_PKGLIBDIR);
  folders.push_back(".");
  return folders;
}

std::string executableDir() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0)
    return ".";
  std::string exe(path, size_t(n));
  return exe.substr(0, exe.rfind('/'));
}

#include "platform/linux/OwnFiles.h"

#include "platform/Platform.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const mode_t OthersWrite = S_IWGRP | S_IWOTH;

// Opened without following a link and without waiting for a FIFO's other
// end; blocking again once the file is known to be a regular one.
int openChecked(const std::string &path, int flags,
                bool (*accept)(const struct stat &)) {
  const int fd =
      open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0)
    return -1;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !accept(info)) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool ownedByMe(const struct stat &info) { return info.st_uid == geteuid(); }

bool trustedCode(const struct stat &info) {
  return (info.st_uid == geteuid() || info.st_uid == 0) &&
         !(info.st_mode & OthersWrite);
}

bool writeAll(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += size_t(n);
  }
  return true;
}
} // namespace

int openOwnFile(const std::string &path, OwnFileAccess access, bool *created) {
  if (created)
    *created = false;
  if (access == OwnFileAccess::Read)
    return openChecked(path, O_RDONLY, ownedByMe);
  const int flags = O_WRONLY | O_APPEND;
  const int fd = openChecked(path, flags | O_CREAT | O_EXCL, ownedByMe);
  if (fd >= 0 || errno != EEXIST) {
    if (created)
      *created = fd >= 0;
    return fd;
  }
  return openChecked(path, flags, ownedByMe);
}

bool replaceOwnFile(const std::string &path, const std::string &bytes) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0)
    return false;
  const bool written = writeAll(fd, bytes) && fsync(fd) == 0;
  close(fd);
  // The name is replaced, never what it pointed to.
  if (written && rename(temporary.c_str(), path.c_str()) == 0)
    return true;
  unlink(temporary.c_str());
  return false;
}

bool readOwnFile(const std::string &path, std::string *bytes) {
  const int fd = openOwnFile(path, OwnFileAccess::Read);
  if (fd < 0)
    return false;
  bytes->clear();
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0)
      bytes->append(buffer, size_t(n));
  close(fd);
  return n == 0;
}

bool appendOwnFile(const std::string &path, const std::string &bytes) {
  const int fd = openOwnFile(path, OwnFileAccess::Append);
  if (fd < 0)
    return false;
  const bool written = writeAll(fd, bytes);
  close(fd);
  return written;
}

bool isPrivateFolder(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         info.st_uid == geteuid() && !(info.st_mode & OthersWrite);
}

int openTrustedLibrary(const std::string &path) {
  return openChecked(path, O_RDONLY, trustedCode);
}

#pragma once

#include <string>

// The descriptors behind the own-file functions of Platform.h, for the Linux
// layer's own use. Each is the caller's to close; -1 when refused.

enum class OwnFileAccess { Read, Append };
// A regular file owned by this user, opened without following a link or
// waiting on a FIFO. Append creates it when absent and says so in *created.
int openOwnFile(const std::string &path, OwnFileAccess access,
                bool *created = nullptr);
// Code to load: a regular file owned by this user or root that neither its
// group nor others may write.
int openTrustedLibrary(const std::string &path);

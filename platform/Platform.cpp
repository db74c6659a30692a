#include "platform/Platform.h"

#include "platform/linux/LinuxPlatform.h"

#include <cstring>

bool SharedMemoryView::read(size_t offset, void *out, size_t length) const {
  if (offset > size() || length > size() - offset)
    return false;
  if (length) // an empty view has no data() to copy from
    std::memcpy(out, data() + offset, length);
  return true;
}

namespace {
Platform *current = nullptr;
}

Platform &platform() {
  if (!current)
    current = &linuxPlatform();
  return *current;
}

Platform *setPlatform(Platform *p) {
  Platform *previous = current;
  current = p;
  return previous;
}

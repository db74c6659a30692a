#include "Publisher.h"

#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
template <class T> void put(Bytes &bytes, size_t offset, T value) {
  if (bytes.size() < offset + sizeof value)
    bytes.resize(offset + sizeof value);
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}
} // namespace

Bytes sysToolBytes(const std::vector<SysToolTestRecord> &records, int count) {
  Bytes bytes(8 + 696 * records.size());
  put<uint16_t>(bytes, 4, count < 0 ? records.size() : count);
  for (size_t i = 0; i < records.size(); ++i) {
    const SysToolTestRecord &r = records[i];
    size_t at = 8 + 696 * i;
    for (int u = 0; u < 320; ++u) {
      QChar c = u < r.name.size() ? r.name[u] : QChar(r.terminated ? 0 : 'x');
      put<uint16_t>(bytes, at + 2 * u, c.unicode());
    }
    put(bytes, at + 640, r.kind);
    put(bytes, at + 644, r.state);
    put(bytes, at + 664, r.value);
  }
  return bytes;
}

Bytes speedFanBytes(const std::vector<int32_t> &temperatures,
                    const std::vector<int32_t> &voltages, int nt, int nv) {
  Bytes bytes(274 + 4 * 64);
  put<uint16_t>(bytes, 12, nt < 0 ? temperatures.size() : nt);
  put<uint16_t>(bytes, 16, nv < 0 ? voltages.size() : nv);
  for (size_t i = 0; i < temperatures.size(); ++i)
    put(bytes, 18 + 4 * i, temperatures[i]);
  for (size_t i = 0; i < voltages.size(); ++i)
    put(bytes, 274 + 4 * i, voltages[i]);
  return bytes;
}

Bytes everestBytes(const std::string &text, bool terminated) {
  Bytes bytes(text.begin(), text.end());
  if (terminated) {
    bytes.push_back(0);
    // What follows the terminator is never read.
    for (char c : std::string("<temp><label>after</label></temp>"))
      bytes.push_back(c);
  }
  return bytes;
}

Bytes mbm5Bytes(const std::vector<Mbm5TestSlot> &slots) {
  Bytes bytes(88 + 80 * 48);
  for (int k = 0; k < 48; ++k)
    put(bytes, 88 + 80 * k + 16, 255.0);
  for (const Mbm5TestSlot &s : slots) {
    size_t at = 88 + 80 * s.slot;
    std::memcpy(bytes.data() + at + 1, s.name.c_str(), s.name.size() + 1);
    put(bytes, at + 16, s.value);
  }
  return bytes;
}

SharedObject::SharedObject(const std::string &name, const Bytes &bytes)
    : name_("/" + name) {
  int fd = shm_open(name_.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
  if (fd < 0)
    return;
  if (!bytes.empty() && ftruncate(fd, off_t(bytes.size())) == 0) {
    void *at =
        mmap(nullptr, bytes.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (at != MAP_FAILED) {
      std::memcpy(at, bytes.data(), bytes.size());
      munmap(at, bytes.size());
    }
  }
  close(fd);
}

SharedObject::~SharedObject() { shm_unlink(name_.c_str()); }

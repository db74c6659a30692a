#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// Bytes of the monitoring programs' layouts, and a real POSIX shared-memory
// object that publishes them for the duration of a test.

using Bytes = std::vector<unsigned char>;

struct SysToolTestRecord {
  QString name;
  uint32_t kind;
  uint32_t state;
  double value;
  bool terminated = true; // false fills the whole name area
};
Bytes sysToolBytes(const std::vector<SysToolTestRecord> &records,
                   int count = -1);
Bytes speedFanBytes(const std::vector<int32_t> &temperatures,
                    const std::vector<int32_t> &voltages, int nt = -1,
                    int nv = -1);
Bytes everestBytes(const std::string &text, bool terminated = true);
struct Mbm5TestSlot {
  int slot;
  std::string name;
  double value;
};
// All 48 slots empty (255) except those given.
Bytes mbm5Bytes(const std::vector<Mbm5TestSlot> &slots);

// Creates (or replaces) the object "/" + name with the bytes; unlinks it on
// destruction.
class SharedObject {
public:
  SharedObject(const std::string &name, const Bytes &bytes);
  ~SharedObject();
  SharedObject(const SharedObject &) = delete;
  SharedObject &operator=(const SharedObject &) = delete;

private:
  std::string name_;
};

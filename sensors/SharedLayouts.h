#pragma once

#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>

// The layouts that monitoring programs publish in shared memory, decoded from
// bytes so that any content, however short or hostile, can be tested without
// a publisher. Every read is bounded by the bytes given: a record that does
// not fit is not read, and a text without its terminator ends at its area or
// at the end of the bytes.

struct ByteSpan {
  const unsigned char *data = nullptr;
  size_t size = 0;

  bool read(size_t offset, void *out, size_t length) const;
  template <class T> bool get(size_t offset, T *out) const {
    return read(offset, out, sizeof *out);
  }
};

struct SysToolRecord {
  QString name;
  uint32_t kind = 0;  // 2 = temperature, 3 = voltage
  uint32_t state = 0; // 1 = to be ignored
  double value = 0;   // degrees Celsius or volts
};
QVector<SysToolRecord> parseSysTool(ByteSpan bytes);

// Scaled to degrees Celsius and volts; entry i is the publisher's index i.
struct SpeedFanValues {
  QVector<double> temperatures;
  QVector<double> voltages;
};
SpeedFanValues parseSpeedFan(ByteSpan bytes);

// Labels and value texts, in document order.
struct EverestSensor {
  QString label;
  QString value;
};
struct EverestSensors {
  QVector<EverestSensor> temperatures;
  QVector<EverestSensor> voltages;
};
EverestSensors parseEverest(ByteSpan bytes);
// The publisher's placeholder instead of a number: no reading. Other text
// that is not a number gives 0.
constexpr char EVEREST_TRIAL[] = "TRIAL";

constexpr int MBM5_TEMPERATURE_SLOTS = 32; // slots 0..31
constexpr int MBM5_VOLTAGE_SLOTS = 16;     // slots 32..47
constexpr double MBM5_EMPTY_SLOT = 255;
struct Mbm5Slot {
  QString name;
  double value = 0;
};
// Slots 0..47 that fit in the bytes, in order.
QVector<Mbm5Slot> parseMbm5(ByteSpan bytes);

#pragma once

#include "sensors/SharedLayouts.h"

#include <QVariant>

// Applies the reading rules of shared-memory source 1 to 4 to the current
// values: a value found and plausible replaces the slot, "TRIAL" sets it to
// NO_READING, anything else leaves it as it was. tempSensor and voltSensor
// are names for sources 1 and 3, indexes for 2 and 4.
void readLayout(int source, ByteSpan bytes, const QVariant &tempSensor,
                const QVariant &voltSensor, double *temperature, double *vcore);

// Maps the source's shared memory read-only for this one reading and applies
// readLayout. False when the source cannot be reached; the values are then
// untouched.
bool readSharedMemorySource(int source, const QVariant &tempSensor,
                            const QVariant &voltSensor, double *temperature,
                            double *vcore);

// What a source offers, for choosing a sensor: each entry's display text, its
// current value as text ("%.1f °C", "%.2f V" or the Everest "TRIAL"), and the
// number the readers take as TempSensor/VoltSensor for index-based sources
// (the SpeedFan index, the Motherboard Monitor 5 temperature slot or voltage
// slot minus 32, the processor number).
struct SensorEntry {
  QString name;
  QString valueText;
  int number = 0;
};
struct SensorList {
  bool present = false;
  QVector<SensorEntry> temperatures;
  QVector<SensorEntry> voltages;
  QString whyAbsent; // for the user, when the source cannot be read
};
SensorList listLayout(int source, ByteSpan bytes);
// present is false when the source cannot be reached; whyAbsent then says
// why: no such object, or one that exists and is not read.
SensorList listSharedMemorySource(int source);
// A source that cannot be read, and why.
SensorList absentSource(const QString &why);

#pragma once

#include "sensors/SensorReaders.h"

#include <QString>
#include <QVariant>

// Source 7: the kernel's hardware-monitoring chips through lm-sensors. A
// sensor is named "chip label" ("k10temp Tctl", "coretemp Core 3"); that name
// is also what TempSensor and VoltSensor store, so that a choice survives a
// reboot that renumbers the hwmon devices.

// Applies the reading rules to the current values: a chosen input that is
// read and plausible replaces its slot; one missing, unreadable or not
// plausible leaves it. 0 when the machine has no hardware-monitoring input
// at all, 1 otherwise.
int ReadLmSensorsSource(const QVariant &tempSensor, const QVariant &voltSensor,
                        double *temperature, double *vcore);

// Every temperature and voltage input with its value now; present is false
// when there is none.
SensorList listLmSensors();

// The processor temperature a new user starts with: Tctl or Tdie on AMD,
// "Package id 0" on Intel, else the first input of a processor chip or
// labelled as the processor's; empty when the machine has none.
QString processorTemperatureSensor();

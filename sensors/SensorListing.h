#pragma once

#include "sensors/SensorReaders.h"

// Every sensor that source 1 to 7 offers now, with its value, for choosing
// one; present is false when the source cannot be reached (and for 0).
SensorList listSource(int source);

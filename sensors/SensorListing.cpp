#include "sensors/SensorListing.h"

#include "sensors/LmSensors.h"
#include "sensors/ThermalSensors.h"

SensorList listSource(int source) {
  switch (source) {
  case SOURCE_SYSTOOL:
  case SOURCE_SPEEDFAN:
  case SOURCE_EVEREST:
  case SOURCE_MBM5:
    return listSharedMemorySource(source);
  case SOURCE_INTEL:
  case SOURCE_K8:
    return listProcessorSource(source);
  case SOURCE_LMSENSORS:
    return listLmSensors();
  default:
    return {};
  }
}

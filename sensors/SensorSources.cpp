#include "sensors/SensorSources.h"

const char *sharedMemoryName(int source) {
  switch (source) {
  case SOURCE_SYSTOOL:
    return "SysToolSensors";
  case SOURCE_SPEEDFAN:
    return "SFSharedMemory_ALM";
  case SOURCE_EVEREST:
    return "EVEREST_SensorValues";
  case SOURCE_MBM5:
    return "$M$B$M$5$S$D$";
  default:
    return "";
  }
}

// QString::asprintf formats numbers in the C locale, whatever the user's
// locale: the decimal point is always a point.
QString formatTemperature(double celsius) {
  return QString::asprintf("%.1f °C", celsius);
}

QString formatVoltage(double volts) {
  return QString::asprintf("%.2f V", volts);
}

// Planted by the layer test as a file of the Qt Core layer. It may include
// its own layer and the platform; BACKWARD, when defined, names a header of
// the widgets layer, which the compiler must not find.
#include "platform/Platform.h"
#include "sensors/SensorMonitor.h"
#include "settings/SettingsKeys.h"
#include "stress/RunController.h"
#include "sysinfo/SystemInfo.h"

#ifdef BACKWARD
#include BACKWARD
#endif

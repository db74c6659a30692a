// Planted by the layer test as a file of the platform layer. It may include
// the platform's own headers; BACKWARD, when defined, names a header of a
// layer above, which the compiler must not find.
#include "platform/Platform.h"
#include "platform/fake/FakePlatform.h"

#ifdef BACKWARD
#include BACKWARD
#endif

#include "app/Fonts.h"

#include <QFontDatabase>

// The forms are laid out for Tahoma; Debian ships a metric-compatible one
// with Wine's fonts, outside the fontconfig path. Without it the default sans
// font stands in. Its bold face barely differs from the regular one, so
// bold titles use DejaVu Sans.
void addApplicationFonts() {
  QFontDatabase::addApplicationFont("/usr/share/wine/fonts/tahoma.ttf");
  QFontDatabase::addApplicationFont("/usr/share/wine/fonts/tahomabd.ttf");
}

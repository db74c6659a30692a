#pragma once

#include <QPixmap>
#include <QString>

// Before the application object exists: scale the whole interface by the
// screen's DPI / 96 and load the @2x images on dense screens.
void enableHighDpiScaling();

// An image of the resources at the screen's density: its "@2x" file when
// the screen has more than one device pixel per pixel and that file exists.
QPixmap sharpPixmap(const QString &fileName);

#include "resources/Display.h"

#include <QGuiApplication>

void enableHighDpiScaling() {
  QGuiApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
  QGuiApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
  // The forms are drawn in 96-DPI pixels. Qt 5 rounds the factor by
  // default, which leaves 120 DPI at 1x with fonts a quarter larger than
  // their widgets, and takes 144 DPI to 2x; the exact factor keeps every
  // form in proportion at any DPI.
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
      Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

QPixmap sharpPixmap(const QString &fileName) {
  if (qGuiApp->devicePixelRatio() > 1.0) {
    QString dense = fileName;
    dense.insert(dense.lastIndexOf('.'), "@2x");
    QPixmap pixmap(dense);
    if (!pixmap.isNull()) {
      pixmap.setDevicePixelRatio(2.0);
      return pixmap;
    }
  }
  return QPixmap(fileName);
}

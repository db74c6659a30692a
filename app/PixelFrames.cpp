#include "app/PixelFrames.h"

#include <QImage>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

#include <cmath>

namespace {
bool onWholeDevicePixels(const QTransform &device, const QRect &rect) {
  const auto whole = [](qreal v) { return v == std::floor(v); };
  const QPointF from = device.map(QPointF(rect.topLeft()));
  return whole(device.m11()) && whole(device.m22()) && whole(from.x()) &&
         whole(from.y());
}
} // namespace

PixelFrameStyle::PixelFrameStyle(QStyle *base) : QProxyStyle(base) {
  setObjectName(base->objectName());
}

void PixelFrameStyle::drawControl(ControlElement element,
                                  const QStyleOption *option, QPainter *painter,
                                  const QWidget *widget) const {
  if (element != CE_ShapedFrame && element != CE_ProgressBarGroove &&
      element != CE_ProgressBarContents) {
    QProxyStyle::drawControl(element, option, painter, widget);
    return;
  }
  const QRect &rect = option->rect;
  const QTransform device = painter->deviceTransform();
  if (device.type() > QTransform::TxScale || rect.isEmpty() ||
      onWholeDevicePixels(device, rect)) {
    QProxyStyle::drawControl(element, option, painter, widget);
    return;
  }
  // Drawn as at 100 %, then each 96-DPI pixel onto the device pixels whose
  // centres it covers: the same rounding that places the widget, its clip
  // and its children, so no line falls outside the widget or under a
  // viewport.
  QImage frame(rect.size(), QImage::Format_ARGB32_Premultiplied);
  frame.fill(Qt::transparent);
  {
    QPainter framePainter(&frame);
    framePainter.setFont(painter->font());
    framePainter.translate(-rect.topLeft());
    QProxyStyle::drawControl(element, option, &framePainter, widget);
  }
  painter->save();
  painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter->drawImage(rect, frame);
  painter->restore();
}

QStyle *createPixelFrameStyle(const QString &name) {
  QStyle *base = QStyleFactory::create(name);
  return base ? new PixelFrameStyle(base) : nullptr;
}

#include "app/WindowPlace.h"

#include <algorithm>
#include <limits>

namespace {
// The position nearest to want that keeps size inside area on one axis; the
// start wins when the size does not fit.
int clampAxis(int want, int size, int areaStart, int areaSize) {
  return std::max(areaStart, std::min(want, areaStart + areaSize - size));
}

QPoint centred(const QSize &size, const QRect &area) {
  return {(area.left() + area.right()) / 2 - size.width() / 2,
          (area.top() + area.bottom()) / 2 - size.height() / 2};
}
} // namespace

QPoint placeFrame(std::optional<QPoint> stored, const QSize &frameSize,
                  const QList<QRect> &availableAreas,
                  const QRect &primaryArea) {
  if (!stored)
    return centred(frameSize, primaryArea);
  const QRect frame(*stored, frameSize);
  QPoint best = centred(frameSize, primaryArea);
  qint64 bestDistance = std::numeric_limits<qint64>::max();
  for (const QRect &area : availableAreas) {
    if (!area.intersects(frame))
      continue;
    const QPoint inside(
        clampAxis(frame.x(), frame.width(), area.x(), area.width()),
        clampAxis(frame.y(), frame.height(), area.y(), area.height()));
    const QPoint move = inside - frame.topLeft();
    const qint64 distance =
        qint64(move.x()) * move.x() + qint64(move.y()) * move.y();
    if (distance < bestDistance) {
      best = inside;
      bestDistance = distance;
    }
  }
  return best;
}

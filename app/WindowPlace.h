#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

#include <optional>

// Where a window's frame goes at start. A stored frame that fits wholly in
// a screen's available area stays; one that only touches screens, as after
// a change of screen or scale, moves the least distance that brings it
// inside one of them (its top left corner first when it is larger than the
// area); one that touches none, or none stored, is centred on the primary
// screen's area. Returns the frame's top left corner.
QPoint placeFrame(std::optional<QPoint> stored, const QSize &frameSize,
                  const QList<QRect> &availableAreas, const QRect &primaryArea);

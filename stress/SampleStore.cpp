#include "stress/SampleStore.h"

#include "sensors/SensorSources.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const double NONE = std::numeric_limits<double>::quiet_NaN();

double combine(SampleStore::Quantity quantity, double a, double b, int n) {
  if (quantity == SampleStore::Temperature)
    return n ? std::max(a, b) : b;
  return (a * n + b) / (n + 1);
}
} // namespace

SampleStore::SampleStore(int capacity)
    : Capacity(std::max(capacity, 2) / 2 * 2), Limit(NONE) {}

void SampleStore::begin(uint32_t nowMs, int maxTemp) {
  StartMs = nowMs;
  Started = QDateTime::currentDateTime();
  Limit = maxTemp >= 0 ? maxTemp : NONE;
  for (Series &series : Quantities)
    series = Series();
  ++Generation;
}

void SampleStore::add(Quantity quantity, uint32_t nowMs, double value) {
  if (!std::isfinite(value) || value == NO_READING)
    return;
  Series &series = Quantities[quantity];
  series.pendingValue =
      combine(quantity, series.pendingValue, value, series.pendingTicks);
  if (++series.pendingTicks < series.ticksPerPoint)
    return;
  // The timer wraps after 49 days; differences stay right across the wrap.
  const double seconds = uint32_t(nowMs - StartMs) / 1000.0;
  series.points.emplace_back(seconds, series.pendingValue);
  series.pendingTicks = 0;
  if (int(series.points.size()) >= Capacity)
    merge(quantity);
}

void SampleStore::merge(Quantity quantity) {
  Series &series = Quantities[quantity];
  std::vector<QPointF> &points = series.points;
  // Full at an even capacity, so every point has a partner.
  size_t kept = 0;
  for (size_t i = 0; i + 1 < points.size(); i += 2)
    points[kept++] = QPointF(points[i + 1].x(), combine(quantity, points[i].y(),
                                                        points[i + 1].y(), 1));
  points.resize(kept);
  series.ticksPerPoint *= 2;
  ++Generation;
}

const std::vector<QPointF> &SampleStore::points(Quantity quantity) const {
  return Quantities[quantity].points;
}

#pragma once

#include <QDateTime>
#include <QPointF>

#include <cstdint>
#include <vector>

// The samples of the current or last run that the graph draws: the
// temperature of each sensor tick, the clock and the usage of each run tick,
// as points (seconds since the run started, value). The supervision adds
// what it has already read; adding costs no reading and no drawing: the
// graph looks at the store on its own time.
//
// A run can last a day, so each quantity keeps at most `capacity` points:
// when full, neighbouring points merge in pairs and later ones are made of
// as many ticks as a merged point. Merged temperatures keep the highest, so
// a peak is never hidden below the limit line; the clock and the usage keep
// the mean.
class SampleStore {
public:
  enum Quantity { Temperature, Clock, Usage, QuantityCount };

  explicit SampleStore(int capacity = 1800);

  // A new run starts at nowMs (the platform's millisecond timer) with the
  // temperature limit maxTemp (negative: none). The last run's points go.
  void begin(uint32_t nowMs, int maxTemp);
  // A value read at nowMs. Values that are no reading (NaN, infinite, the
  // sensors' no-reading marker) are left out.
  void add(Quantity quantity, uint32_t nowMs, double value);

  const std::vector<QPointF> &points(Quantity quantity) const;
  // The temperature limit of the run in °C; NaN when there is none.
  double limit() const { return Limit; }
  // When the run began, by the wall clock; invalid before the first run.
  QDateTime started() const { return Started; }
  // Changes whenever points already given may have changed (a new run, a
  // merge): a reader that drew up to here must draw everything again.
  // Otherwise points are only appended.
  int generation() const { return Generation; }

private:
  struct Series {
    std::vector<QPointF> points;
    int ticksPerPoint = 1;
    int pendingTicks = 0;
    double pendingValue = 0;
  };

  void merge(Quantity quantity);

  int Capacity;
  uint32_t StartMs = 0;
  QDateTime Started;
  double Limit;
  int Generation = 0;
  Series Quantities[QuantityCount];
};

#include "sensors/SensorSources.h"
#include "stress/SampleStore.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {
const double NaN = std::numeric_limits<double>::quiet_NaN();

// One value handed to the store: what, when (ms of the platform's timer) and
// how much.
struct Added {
  SampleStore::Quantity quantity;
  uint32_t ms;
  double value;
};
using Points = QVector<QPointF>;
} // namespace

Q_DECLARE_METATYPE(Added)
Q_DECLARE_METATYPE(QVector<Added>)

// The samples of a recorded run go in; the graph's points come out.
class SampleStoreTest : public QObject {
  Q_OBJECT

private slots:
  void pointsOfARun_data() {
    QTest::addColumn<int>("capacity");
    QTest::addColumn<uint32_t>("start");
    QTest::addColumn<int>("maxTemp");
    QTest::addColumn<QVector<Added>>("added");
    QTest::addColumn<Points>("temperature");
    QTest::addColumn<Points>("usage");
    QTest::addColumn<double>("limit");

    const auto T = SampleStore::Temperature;
    const auto U = SampleStore::Usage;
    QTest::newRow("one point per tick, in seconds since the start")
        << 8 << 5000u << -70
        << QVector<Added>{{U, 6000, 99.5}, {T, 6400, 61}, {U, 7000, 100}}
        << Points{{1.4, 61}} << Points{{1, 99.5}, {2, 100}} << NaN;
    QTest::newRow("no reading is no point")
        << 8 << 0u << 85
        << QVector<Added>{{T, 1000, NO_READING},
                          {T, 2000, NaN},
                          {T, 3000, std::numeric_limits<double>::infinity()},
                          {T, 4000, 70}}
        << Points{{4, 70}} << Points{} << 85.0;
    QTest::newRow("the limit 0 is a limit")
        << 8 << 0u << 0 << QVector<Added>{} << Points{} << Points{} << 0.0;
    QTest::newRow("across the timer's wrap")
        << 8 << 0xFFFFFC18u << 90 << QVector<Added>{{U, 1000, 97}} << Points{}
        << Points{{2, 97}} << 90.0;
    // Full at 4 points: pairs merge, later points are made of two ticks.
    // The temperature peak of 95 must survive; usage is averaged.
    QTest::newRow("a long run: merged pairs keep the peak and the mean")
        << 4 << 0u << 90
        << QVector<Added>{{T, 1000, 50}, {T, 2000, 95}, {T, 3000, 55},
                          {T, 4000, 60}, {T, 5000, 58}, {T, 6000, 57},
                          {T, 7000, 96}, {U, 1000, 10}, {U, 2000, 20},
                          {U, 3000, 30}, {U, 4000, 40}, {U, 5000, 50},
                          {U, 6000, 60}, {U, 7000, 70}}
        << Points{{2, 95}, {4, 60}, {6, 58}}
        << Points{{2, 15}, {4, 35}, {6, 55}} << 90.0;
  }

  void pointsOfARun() {
    QFETCH(int, capacity);
    QFETCH(uint32_t, start);
    QFETCH(int, maxTemp);
    QFETCH(QVector<Added>, added);
    QFETCH(Points, temperature);
    QFETCH(Points, usage);
    QFETCH(double, limit);

    SampleStore store(capacity);
    // The last run's points and limit must not leak into this one.
    store.begin(0, 50);
    store.add(SampleStore::Temperature, 1000, 80);
    store.add(SampleStore::Usage, 1000, 42);
    store.begin(start, maxTemp);
    for (const Added &a : added)
      store.add(a.quantity, a.ms, a.value);

    auto got = [&](SampleStore::Quantity q) {
      const auto &points = store.points(q);
      return Points(points.begin(), points.end());
    };
    QCOMPARE(got(SampleStore::Temperature), temperature);
    QCOMPARE(got(SampleStore::Usage), usage);
    QVERIFY(got(SampleStore::Clock).isEmpty());
    if (std::isnan(limit))
      QVERIFY(std::isnan(store.limit()));
    else
      QCOMPARE(store.limit(), limit);
  }
};

QTEST_GUILESS_MAIN(SampleStoreTest)
#include "tst_samplestore.moc"

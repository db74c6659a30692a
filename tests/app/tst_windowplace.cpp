#include "app/WindowPlace.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::optional<QPoint>)

// Two screens side by side, each with a panel along its bottom: a
// 2560 x 1600 primary and a 1920 x 1080 one to its right.
class WindowPlaceTest : public QObject {
  Q_OBJECT

private slots:
  void frameGoesInsideAScreen_data() {
    QTest::addColumn<std::optional<QPoint>>("stored");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QPoint>("placed");
    const QSize window(820, 846);
    QTest::newRow("fits the primary: kept")
        << std::optional<QPoint>(QPoint(100, 200)) << window
        << QPoint(100, 200);
    QTest::newRow("fits the second screen: kept")
        << std::optional<QPoint>(QPoint(3000, 100)) << window
        << QPoint(3000, 100);
    QTest::newRow("a 96-DPI position at 192 DPI: moved the least in")
        << std::optional<QPoint>(QPoint(2146, 1175)) << window
        << QPoint(2560 - 820, 1560 - 846);
    QTest::newRow("off the bottom right of the second screen")
        << std::optional<QPoint>(QPoint(4300, 900)) << window
        << QPoint(4480 - 820, 1040 - 846);
    QTest::newRow("across both screens: into the nearer one")
        << std::optional<QPoint>(QPoint(2400, 100)) << window
        << QPoint(2560, 100);
    QTest::newRow("larger than the screen: its top left corner in")
        << std::optional<QPoint>(QPoint(-50, -40)) << QSize(3000, 2000)
        << QPoint(0, 0);
    QTest::newRow("on no screen: centred on the primary")
        << std::optional<QPoint>(QPoint(-2000, 100)) << window
        << QPoint(1279 - 410, 779 - 423);
  }
  void frameGoesInsideAScreen() {
    QFETCH(std::optional<QPoint>, stored);
    QFETCH(QSize, frame);
    QFETCH(QPoint, placed);
    const QRect primary(0, 0, 2560, 1560);
    const QRect second(2560, 0, 1920, 1040);
    QCOMPARE(placeFrame(stored, frame, {primary, second}, primary), placed);
  }
};

QTEST_GUILESS_MAIN(WindowPlaceTest)
#include "tst_windowplace.moc"

#include "app/RunGraph.h"
#include "app/ToolkitFrench.h"

#include <QDialogButtonBox>
#include <QImageReader>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtTest>

using namespace QtCharts;

namespace {
QVector<QPointF> drawn(RunGraph &graph, const char *view, int series = 0) {
  auto *chart = graph.findChild<QChartView *>(view)->chart();
  return static_cast<QLineSeries *>(chart->series()[series])->pointsVector();
}

// What the chart must show: the store's points, time in minutes.
QVector<QPointF> expected(const SampleStore &store, SampleStore::Quantity q) {
  QVector<QPointF> points;
  for (const QPointF &p : store.points(q))
    points.append({p.x() / 60, p.y()});
  return points;
}
} // namespace

// The window follows the store as ticks add samples, merges rewrite them
// and runs replace them; no pixel is looked at.
class RunGraphTest : public QObject {
  Q_OBJECT

private slots:
  void chartsFollowTheSamples() {
    SampleStore store(4);
    RunGraph graph(store);
    graph.show();
    QVERIFY(QTest::qWaitForWindowExposed(&graph));

    store.begin(0, 85);
    const double temperatures[] = {50, 95, 55, 60, 58, 57, 61};
    for (int s = 0; s < 7; ++s) {
      store.add(SampleStore::Temperature, 1000 * (s + 1), temperatures[s]);
      store.add(SampleStore::Usage, 1000 * (s + 1), 99);
      graph.Refresh();
      QCOMPARE(drawn(graph, "chartTemperature"),
               expected(store, SampleStore::Temperature));
      QCOMPARE(drawn(graph, "chartUsage"), expected(store, SampleStore::Usage));
    }
    QCOMPARE(drawn(graph, "chartTemperature").size(), 3);
    const QVector<QPointF> limit = drawn(graph, "chartTemperature", 1);
    QCOMPARE(limit.size(), 2);
    QCOMPARE(limit[0].y(), 85.0);
    QCOMPARE(limit[1].y(), 85.0);

    // Shown again, the window draws the run it did not see.
    graph.hide();
    store.begin(0, -70);
    store.add(SampleStore::Clock, 1000, 3600);
    graph.show();
    QCOMPARE(drawn(graph, "chartTemperature"), QVector<QPointF>());
    QCOMPARE(drawn(graph, "chartClock"), expected(store, SampleStore::Clock));
    QCOMPARE(drawn(graph, "chartTemperature", 1), QVector<QPointF>());

    QTemporaryDir folder;
    QVERIFY(graph.SaveImage(folder.filePath("run")));
    QFile image(folder.filePath("run.png"));
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.read(8), QByteArray("\x89PNG\r\n\x1a\n"));
    const QString title = QImageReader(image.fileName()).text("Title");
    QVERIFY2(title.contains(QSysInfo::machineHostName()), qPrintable(title));
    QVERIFY2(title.contains(store.started().toString("dd/MM/yyyy 'à' hh:mm")),
             qPrintable(title));
    QVERIFY(!graph.SaveImage(folder.filePath("no folder/run.png")));
  }

  // The save dialog is Qt's own: its buttons speak French too.
  void toolkitSpeaksFrench() {
    QVERIFY(installToolkitFrench(*qApp));
    QDialogButtonBox box(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QString("Annuler"));
  }
};

QTEST_MAIN(RunGraphTest)
#include "tst_rungraph.moc"

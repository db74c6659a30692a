#pragma once

#include "ui_RunGraph.h"

#include "stress/SampleStore.h"

#include <QWidget>

namespace QtCharts {
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

// The graph of the current or last run: temperature with its limit, clock
// and usage over time, drawn from the samples the supervision keeps. The
// supervision never calls it: while shown, it looks at the samples on a
// timer of its own, so a tick never waits for a chart.
class RunGraph : public QWidget {
  Q_OBJECT

public:
  explicit RunGraph(const SampleStore &samples, QWidget *parent = nullptr);

  // Draws what the samples gained since the last drawing, or all of them
  // again when earlier ones changed. The window's timer calls it.
  void Refresh();
  // The three charts as a PNG file; false when it could not be written.
  bool SaveImage(QString path);

protected:
  void showEvent(QShowEvent *event) override;
  void hideEvent(QHideEvent *event) override;
  void timerEvent(QTimerEvent *event) override;

private slots:
  void on_pushSave_clicked();
  void on_pushClose_clicked();

private:
  void UpdateAxes();

  Ui_RunGraphClass ui;
  const SampleStore &Samples;
  QtCharts::QLineSeries *Series[SampleStore::QuantityCount];
  QtCharts::QValueAxis *TimeAxis[SampleStore::QuantityCount];
  QtCharts::QValueAxis *ValueAxis[SampleStore::QuantityCount];
  QtCharts::QLineSeries *LimitLine;
  int RefreshTimer = 0;
  int DrawnGeneration = -1;
  size_t Drawn[SampleStore::QuantityCount] = {};
};

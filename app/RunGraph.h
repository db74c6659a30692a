#pragma once

#include "ui_RunGraph.h"

#include "stress/SampleStore.h"

#include <QWidget>

namespace QtCharts {
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

// The graph of the current or last run: temperature with its limit, clock
// and usage over time, drawn from the samples the supervision keeps. It
// draws only while shown, after the tick that added the samples has
// returned, so the tick never waits for a chart.
class RunGraph : public QWidget {
  Q_OBJECT

public:
  explicit RunGraph(const SampleStore &samples, QWidget *parent = nullptr);

  // The three charts as a PNG file; false when it could not be written.
  bool SaveImage(QString path);

protected:
  void showEvent(QShowEvent *event) override;

private slots:
  void on_pushSave_clicked();
  void on_pushClose_clicked();

private:
  void ScheduleRefresh();
  void Refresh();
  void UpdateAxes();

  Ui_RunGraphClass ui;
  const SampleStore &Samples;
  QtCharts::QLineSeries *Series[SampleStore::QuantityCount];
  QtCharts::QValueAxis *TimeAxis[SampleStore::QuantityCount];
  QtCharts::QValueAxis *ValueAxis[SampleStore::QuantityCount];
  QtCharts::QLineSeries *LimitLine;
  bool RefreshPending = false;
  int DrawnGeneration = -1;
  size_t Drawn[SampleStore::QuantityCount] = {};
};

#include "app/RunGraph.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QStandardPaths>
#include <QSysInfo>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

using namespace QtCharts;

namespace {
// Half the supervision's period: a new sample shows within half a second.
const int REFRESH_MS = 500;

struct ChartLook {
  const char *title;
  QColor colour;
};

const ChartLook Looks[SampleStore::QuantityCount] = {
    {"Température CPU (°C)", QColor(0xE0, 0x30, 0x20)},
    {"Fréquence (MHz)", QColor(0x20, 0x60, 0xD0)},
    {"Utilisation CPU (%)", QColor(0x40, 0xA0, 0x20)},
};

// Minutes read better than seconds on a run of hours.
QPointF inMinutes(const QPointF &point) { return {point.x() / 60, point.y()}; }

QList<QPointF> inMinutes(const std::vector<QPointF> &points, size_t from) {
  QList<QPointF> list;
  list.reserve(int(points.size() - from));
  for (size_t i = from; i < points.size(); ++i)
    list.append(inMinutes(points[i]));
  return list;
}

// At most six steps of a round number of minutes (a quarter of a minute to
// four hours), up to the end of the run.
void fitMinutes(QValueAxis *axis, double minutes) {
  static const double Steps[] = {0.25, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 240};
  double step = Steps[0];
  for (double candidate : Steps) {
    step = candidate;
    if (minutes <= 6 * step)
      break;
  }
  const int count = std::max(1, int(std::ceil(minutes / step - 1e-9)));
  axis->setRange(0, count * step);
  axis->setTickCount(count + 1);
}

// About five steps of 1, 2 or 5 times a power of ten around the values, so
// the lines never touch the frame. The range is set once, and only when it
// changes: every change lays the chart out again.
void fitValues(QValueAxis *axis, double low, double high, double margin) {
  low -= margin;
  high += margin;
  const double rough = (high - low) / 5;
  const double power = std::pow(10, std::floor(std::log10(rough)));
  const double step = rough <= power       ? power
                      : rough <= 2 * power ? 2 * power
                      : rough <= 5 * power ? 5 * power
                                           : 10 * power;
  low = std::floor(low / step) * step;
  high = std::ceil(high / step) * step;
  if (axis->min() != low || axis->max() != high) {
    axis->setRange(low, high);
    axis->setTickCount(int(std::lround((high - low) / step)) + 1);
  }
}
} // namespace

RunGraph::RunGraph(const SampleStore &samples, QWidget *parent)
    : QWidget(parent, Qt::Window), Samples(samples) {
  ui.setupUi(this);
  QChartView *views[] = {ui.chartTemperature, ui.chartClock, ui.chartUsage};
  for (int q = 0; q < SampleStore::QuantityCount; ++q) {
    QChart *chart = new QChart;
    chart->setTitle(QString::fromUtf8(Looks[q].title));
    chart->legend()->hide();
    Series[q] = new QLineSeries;
    Series[q]->setPen(QPen(Looks[q].colour, 2));
    chart->addSeries(Series[q]);
    TimeAxis[q] = new QValueAxis;
    TimeAxis[q]->setLabelFormat("%g");
    ValueAxis[q] = new QValueAxis;
    ValueAxis[q]->setLabelFormat("%g");
    chart->addAxis(TimeAxis[q], Qt::AlignBottom);
    chart->addAxis(ValueAxis[q], Qt::AlignLeft);
    Series[q]->attachAxis(TimeAxis[q]);
    Series[q]->attachAxis(ValueAxis[q]);
    views[q]->setChart(chart);
    views[q]->setRenderHint(QPainter::Antialiasing);
  }
  TimeAxis[SampleStore::Usage]->setTitleText("Temps (min)");
  LimitLine = new QLineSeries;
  LimitLine->setPen(QPen(Looks[SampleStore::Temperature].colour.darker(150),
                         1.5, Qt::DashLine));
  QChart *temperature = ui.chartTemperature->chart();
  temperature->addSeries(LimitLine);
  LimitLine->attachAxis(TimeAxis[SampleStore::Temperature]);
  LimitLine->attachAxis(ValueAxis[SampleStore::Temperature]);
}

void RunGraph::showEvent(QShowEvent *) {
  Refresh();
  if (!RefreshTimer)
    RefreshTimer = startTimer(REFRESH_MS);
}

void RunGraph::hideEvent(QHideEvent *) {
  killTimer(RefreshTimer);
  RefreshTimer = 0;
}

void RunGraph::timerEvent(QTimerEvent *) { Refresh(); }

void RunGraph::Refresh() {
  const bool redraw = Samples.generation() != DrawnGeneration;
  bool grown = false;
  for (int q = 0; q < SampleStore::QuantityCount; ++q)
    grown |= Drawn[q] != Samples.points(SampleStore::Quantity(q)).size();
  if (!redraw && !grown)
    return;
  for (int q = 0; q < SampleStore::QuantityCount; ++q) {
    const auto &points = Samples.points(SampleStore::Quantity(q));
    if (redraw) {
      Series[q]->replace(inMinutes(points, 0));
    } else if (Drawn[q] < points.size()) {
      Series[q]->append(inMinutes(points, Drawn[q]));
    }
    Drawn[q] = points.size();
  }
  DrawnGeneration = Samples.generation();
  if (Samples.started().isValid())
    ui.labelRun->setText(Samples.started().toString(
        "'Test commencé le' dd/MM/yyyy 'à' hh:mm:ss"));
  UpdateAxes();
}

void RunGraph::UpdateAxes() {
  double minutes = 1;
  for (int q = 0; q < SampleStore::QuantityCount; ++q) {
    const auto &points = Samples.points(SampleStore::Quantity(q));
    if (!points.empty())
      minutes = std::max(minutes, points.back().x() / 60);
  }
  for (QValueAxis *axis : TimeAxis)
    fitMinutes(axis, minutes);
  // The limit line crosses the whole chart.
  minutes = TimeAxis[SampleStore::Temperature]->max();

  double low[SampleStore::QuantityCount], high[SampleStore::QuantityCount];
  for (int q = 0; q < SampleStore::QuantityCount; ++q) {
    const auto &points = Samples.points(SampleStore::Quantity(q));
    low[q] = points.empty() ? 0 : points.front().y();
    high[q] = low[q];
    for (const QPointF &point : points) {
      low[q] = std::min(low[q], point.y());
      high[q] = std::max(high[q], point.y());
    }
  }

  const double limit = Samples.limit();
  QString title = QString::fromUtf8(Looks[SampleStore::Temperature].title);
  if (std::isnan(limit)) {
    LimitLine->clear();
  } else {
    LimitLine->replace(QList<QPointF>{{0, limit}, {minutes, limit}});
    title += QString::fromUtf8(", limite : %1 °C").arg(limit);
    if (Samples.points(SampleStore::Temperature).empty())
      low[SampleStore::Temperature] = high[SampleStore::Temperature] = limit;
    low[SampleStore::Temperature] =
        std::min(low[SampleStore::Temperature], limit);
    high[SampleStore::Temperature] =
        std::max(high[SampleStore::Temperature], limit);
  }
  // A run without a sensor has nothing to draw here; say so rather than
  // show empty axes.
  const bool readings = !Samples.points(SampleStore::Temperature).empty() ||
                        !std::isnan(limit) ||
                        Samples.points(SampleStore::Usage).empty();
  if (!readings)
    title = QString::fromUtf8(
        "Température CPU : aucune mesure, aucun capteur n'est choisi dans "
        "les Options");
  TimeAxis[SampleStore::Temperature]->setVisible(readings);
  ValueAxis[SampleStore::Temperature]->setVisible(readings);
  ui.chartTemperature->chart()->setTitle(title);
  fitValues(ValueAxis[SampleStore::Temperature], low[SampleStore::Temperature],
            high[SampleStore::Temperature], 5);
  fitValues(ValueAxis[SampleStore::Clock], low[SampleStore::Clock],
            high[SampleStore::Clock], 100);
  // Per cent reads best on a fixed scale, in halves.
  ValueAxis[SampleStore::Usage]->setTickCount(3);
  ValueAxis[SampleStore::Usage]->setRange(
      0, std::max(100.0, std::ceil(high[SampleStore::Usage] / 50) * 50));
}

// The picture says which machine and which run it shows, above the charts
// and in its own text fields.
bool RunGraph::SaveImage(QString path) {
  if (QFileInfo(path).suffix().isEmpty())
    path += ".png";
  QString caption = "Vorsk 1.0.4 - " + QSysInfo::machineHostName();
  if (Samples.started().isValid())
    caption += " - " + ui.labelRun->text();
  const QPixmap charts = ui.widgetCharts->grab();
  const qreal ratio = charts.devicePixelRatio();
  const int band = fontMetrics().height() * 2;
  QImage image(charts.width(), charts.height() + int(band * ratio),
               QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setFont(font());
    painter.drawText(QRect(0, 0, int(charts.width() / ratio), band),
                     Qt::AlignCenter, caption);
    painter.drawPixmap(0, band, charts);
  }
  image.setText("Title", caption);
  return image.save(path, "PNG");
}

void RunGraph::on_pushSave_clicked() {
  QString folder =
      QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (folder.isEmpty() || !QDir(folder).exists())
    folder = QDir::homePath();
  const QString path = QFileDialog::getSaveFileName(
      this, QString::fromUtf8("Enregistrer le graphique"),
      QDir(folder).filePath("Vorsk-graphique.png"),
      QString::fromUtf8("Images PNG (*.png)"));
  if (path.isEmpty())
    return;
  if (!SaveImage(path))
    QMessageBox::warning(
        this, "Vorsk 1.0.4",
        QString::fromUtf8("L'image n'a pas pu être enregistrée : %1")
            .arg(QDir::toNativeSeparators(path)));
}

void RunGraph::on_pushClose_clicked() { close(); }

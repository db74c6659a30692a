#include "app/Vorsk.h"

#include "app/PixelFrames.h"
#include "resources/Display.h"

#include <QApplication>
#include <QPixmap>
#include <QStyle>

namespace {
// The look Qt picked for this desktop before any style was applied; the
// main window's construction is the first caller, so it is taken then.
QString nativeStyleName() {
  static const QString name = QApplication::style()->objectName();
  return name;
}

// An unknown name leaves the current style in place.
void setApplicationStyle(const QString &name) {
  if (QStyle *style = createPixelFrameStyle(name))
    QApplication::setStyle(style);
}

QPalette vexaPalette() {
  QPalette p = QApplication::style()->standardPalette();
  p.setBrush(QPalette::Window, QColor("#EEE"));
  p.setBrush(QPalette::WindowText, QColor("#333"));
  p.setBrush(QPalette::Base, QColor("#DDD"));
  p.setBrush(QPalette::Button, QColor("#555"));
  p.setBrush(QPalette::ButtonText, QColor("#EEE"));
  p.setBrush(QPalette::Disabled, QPalette::ButtonText, QColor("#AAA"));
  p.setBrush(QPalette::Disabled, QPalette::Light, QColor("#888"));
  p.setBrush(QPalette::Disabled, QPalette::WindowText, QColor("#666"));
  return p;
}

void setTexture(QWidget *widget, QPalette::ColorRole role,
                const QString &image) {
  QPalette p = widget->palette();
  p.setBrush(role, QBrush(sharpPixmap(image)));
  widget->setPalette(p);
}

// Each bar owns its style object as a child; the one it replaces is
// released, so previews do not pile styles up.
void giveOwnStyle(QWidget *bar, const QString &name) {
  QStyle *style = createPixelFrameStyle(name);
  if (!style)
    return;
  QStyle *previous =
      bar->findChild<QStyle *>(QString(), Qt::FindDirectChildrenOnly);
  style->setParent(bar);
  bar->setStyle(style);
  delete previous;
}

// The bars' highlight, darkened when too pale to stand out on the bar.
QPalette barPalette() {
  QPalette p = QApplication::palette();
  QColor highlight = p.color(QPalette::Active, QPalette::Highlight);
  if (highlight.red() + highlight.green() + highlight.blue() > 480) {
    highlight = highlight.darker(160);
    p.setColor(QPalette::Active, QPalette::Highlight, highlight);
  }
  p.setColor(QPalette::Inactive, QPalette::Highlight, highlight);
  return p;
}
} // namespace

void Vorsk::ChangeStyle(QString style, bool palette) {
  const QString native = nativeStyleName();
  if (style == "Vexa") {
    setApplicationStyle("Plastique");
    const QPalette vexa = vexaPalette();
    QApplication::setPalette(vexa);
    setPalette(vexa);
    ui.groupBoxSys->hide();
    setTexture(this, QPalette::Window, ":/Images/Vexa_background.png");
    setTexture(ui.widgetEnd, QPalette::Window, ":/Images/Vexa_bottom.png");
    setTexture(ui.textLog, QPalette::Base, ":/Images/Vexa_textlog.png");
  } else {
    ui.groupBoxSys->show();
    setApplicationStyle(style == "Aucun" ? native : style);
    const QPalette p = style != "Aucun" && palette
                           ? QApplication::style()->standardPalette()
                           : AppPalette;
    QApplication::setPalette(p);
    setPalette(p);
    ui.widgetEnd->setPalette(p);
    ui.textLog->setPalette(p);
  }

  const bool motifBars =
      style == "Windows" || style == "Motif" || style == "CDE";
  giveOwnStyle(ui.barTest, motifBars ? "Motif" : "Plastique");
  giveOwnStyle(ui.barCPU, motifBars ? "Motif" : "Plastique");
  const QPalette bars = barPalette();
  ui.barTest->setPalette(bars);
  ui.barCPU->setPalette(bars);
}

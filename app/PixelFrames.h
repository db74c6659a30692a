#pragma once

#include <QProxyStyle>

// A style whose frames keep every line at any scale. At a fractional scale
// (125 %, 150 %, 175 %) a widget placed at an odd 96-DPI pixel starts
// between two device pixels; the styles then draw its first frame line on
// the device pixel half outside the widget, where the widget's clip drops
// it, and a scroll area's viewport or a progress bar's chunk covers an inner
// line. Such frames are drawn as at 100 % and laid onto the device pixels by
// the rounding that places the widgets; everything else is the base style's
// own drawing, and on whole device pixels (100 %, 200 %) nothing changes.
class PixelFrameStyle : public QProxyStyle {
  Q_OBJECT

public:
  // Takes ownership of base and answers to its name.
  explicit PixelFrameStyle(QStyle *base);

  void drawControl(ControlElement element, const QStyleOption *option,
                   QPainter *painter,
                   const QWidget *widget = nullptr) const override;
};

// The named style drawing its frames on whole device pixels, or null when
// no style has that name.
QStyle *createPixelFrameStyle(const QString &name);

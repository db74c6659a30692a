#include "resources/TextRoom.h"

#include <QEvent>
#include <QHash>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

namespace {
// What the text lacks in the button: the width of its line, and the height
// of its ink once the line is centred as the style draws it.
QSize missingRoom(const QPushButton *button) {
  QStyleOptionButton opt;
  opt.initFrom(button);
  opt.text = button->text();
  if (button->autoDefault() || button->isDefault())
    opt.features |= QStyleOptionButton::AutoDefaultButton;
  if (button->isDefault())
    opt.features |= QStyleOptionButton::DefaultButton;
  const QRect room = button->style()->subElementRect(
      QStyle::SE_PushButtonContents, &opt, button);
  const QFontMetrics fm = button->fontMetrics();
  const QSize line = fm.size(Qt::TextShowMnemonic, opt.text);
  const QRect placed =
      QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, line, room);
  const QRect ink = fm.tightBoundingRect(opt.text).translated(
      placed.left(), placed.top() + fm.ascent());
  const int over =
      std::max({0, room.top() - ink.top(), ink.bottom() - room.bottom()});
  return {std::max(0, line.width() - room.width()), 2 * over};
}

class ButtonRoom : public QObject {
public:
  explicit ButtonRoom(QWidget *form) : QObject(form) {
    for (QPushButton *button : form->findChildren<QPushButton *>())
      if (!button->text().isEmpty())
        formGeometry.insert(button, button->geometry());
    fit();
    form->installEventFilter(this);
  }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::StyleChange ||
        event->type() == QEvent::FontChange)
      fit();
    return QObject::eventFilter(watched, event);
  }

private:
  void fit() {
    for (auto it = formGeometry.cbegin(); it != formGeometry.cend(); ++it) {
      QPushButton *button = it.key();
      button->setGeometry(it.value());
      const QSize missing = missingRoom(button);
      button->setGeometry(it.value().adjusted(
          -(missing.width() + 1) / 2, -(missing.height() + 1) / 2,
          missing.width() / 2, missing.height() / 2));
    }
  }

  QHash<QPushButton *, QRect> formGeometry;
};
} // namespace

void keepButtonTextsInRoom(QWidget *form) { new ButtonRoom(form); }

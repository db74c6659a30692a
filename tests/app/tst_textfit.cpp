#include "about/About.h"
#include "about/BugReport.h"
#include "app/Fonts.h"
#include "options/OptionsForm.h"
#include "platform/fake/FakePlatform.h"
#include "resources/Display.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyleOption>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>

// Every window and dialog, in every style, at the DPI of a real screen: a
// child process per row starts the way the program does, with QT_FONT_DPI
// standing for the screen's DPI (the offscreen platform honours it as X11's
// Xft.dpi), and lists every text that does not fit its widget by the font
// metrics the style uses to draw it.
namespace {
const char *const Styles[] = {"Aucun",     "Windows",    "Motif", "CDE",
                              "Plastique", "Cleanlooks", "Vexa"};

QString describe(const QWidget *w, const QString &text, const QSize &need,
                 const QSize &room) {
  return QString("%1 \"%2\" needs %3x%4, has %5x%6")
      .arg(w->objectName(), text)
      .arg(need.width())
      .arg(need.height())
      .arg(room.width())
      .arg(room.height());
}

// Lists the text when what it needs is larger than its room either way.
void check(QStringList &clipped, const QWidget *w, const QString &text,
           const QSize &need, const QRect &room) {
  if (need.width() > room.width() || need.height() > room.height())
    clipped << describe(w, text, need, room.size());
}

QSize textSize(const QWidget *w, const QString &text) {
  return w->fontMetrics().size(Qt::TextShowMnemonic, text);
}

void checkLabel(const QLabel *label, QStringList &clipped) {
  if (label->text().isEmpty())
    return;
  if (label->wordWrap()) {
    const int need = label->heightForWidth(label->width());
    if (need > label->height())
      clipped << describe(label, "(wrapped text)", {label->width(), need},
                          label->size());
    return;
  }
  // The label's own measure: text, frame, margin and the indent a framed
  // label adds.
  check(clipped, label, label->text(), label->minimumSizeHint(), label->rect());
}

void checkPushButton(const QPushButton *button, QStringList &clipped) {
  QStyleOptionButton opt;
  opt.initFrom(button);
  opt.text = button->text();
  if (button->autoDefault() || button->isDefault())
    opt.features |= QStyleOptionButton::AutoDefaultButton;
  if (button->isDefault())
    opt.features |= QStyleOptionButton::DefaultButton;
  const QRect room = button->style()->subElementRect(
      QStyle::SE_PushButtonContents, &opt, button);
  // The line is centred in the room; what must stay inside is its width and
  // the glyphs' ink.
  const QFontMetrics fm = button->fontMetrics();
  const QSize line = textSize(button, button->text());
  const QRect ink =
      fm.tightBoundingRect(button->text())
          .translated(
              QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, line, room)
                  .topLeft() +
              QPoint(0, fm.ascent()));
  if (line.width() > room.width() || !room.contains(ink))
    clipped << describe(button, button->text(), {line.width(), ink.height()},
                        room.size());
}

void checkCheckBox(const QCheckBox *box, QStringList &clipped) {
  QStyleOptionButton opt;
  opt.initFrom(box);
  opt.text = box->text();
  const QRect room =
      box->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, box);
  check(clipped, box, box->text(), textSize(box, box->text()),
        room.intersected(box->rect()));
}

void checkComboBox(const QComboBox *combo, QStringList &clipped) {
  QStyleOptionComboBox opt;
  opt.initFrom(combo);
  opt.editable = combo->isEditable();
  // Styles draw the item one pixel in from each side of the edit field.
  const QRect room = combo->style()
                         ->subControlRect(QStyle::CC_ComboBox, &opt,
                                          QStyle::SC_ComboBoxEditField, combo)
                         .adjusted(1, 0, -1, 0);
  for (int i = 0; i < combo->count(); ++i)
    check(clipped, combo, combo->itemText(i),
          textSize(combo, combo->itemText(i)), room);
}

void checkGroupBox(const QGroupBox *box, QStringList &clipped) {
  if (box->title().isEmpty())
    return;
  QStyleOptionGroupBox opt;
  opt.initFrom(box);
  opt.text = box->title();
  opt.lineWidth = 1;
  opt.textAlignment = box->alignment();
  opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QRect room = box->style()
                         ->subControlRect(QStyle::CC_GroupBox, &opt,
                                          QStyle::SC_GroupBoxLabel, box)
                         .intersected(box->rect());
  check(clipped, box, box->title(), textSize(box, box->title()), room);
}

QStringList clippedTexts(QWidget *window) {
  QStringList clipped;
  for (QWidget *w : window->findChildren<QWidget *>()) {
    if (!w->isVisibleTo(window) || w->parentWidget() == nullptr ||
        qobject_cast<QComboBox *>(w->parentWidget()))
      continue;
    if (auto *label = qobject_cast<QLabel *>(w))
      checkLabel(label, clipped);
    else if (auto *button = qobject_cast<QPushButton *>(w))
      checkPushButton(button, clipped);
    else if (auto *box = qobject_cast<QCheckBox *>(w))
      checkCheckBox(box, clipped);
    else if (auto *combo = qobject_cast<QComboBox *>(w))
      checkComboBox(combo, clipped);
    else if (auto *group = qobject_cast<QGroupBox *>(w))
      checkGroupBox(group, clipped);
  }
  return clipped;
}

// Child: one form in every style; prints the screen's ratio and that of
// the images, then one line per clipped text.
int reportForm(const QString &form, QTextStream &out) {
  Vorsk vexa;
  vexa.ChangeStyle("Vexa", true);
  out << "ratio " << qApp->primaryScreen()->devicePixelRatio() << " images "
      << vexa.palette().brush(QPalette::Window).texture().devicePixelRatio()
      << "\n";
  for (const char *style : Styles) {
    Vorsk window;
    window.ChangeStyle(style, true);
    std::unique_ptr<QWidget> dialog;
    if (form == "Options")
      dialog = std::make_unique<Options>(&window, restyleOf(window));
    else if (form == "About")
      dialog = std::make_unique<About>("diagnostic", &window);
    else if (form == "BugReport")
      dialog = std::make_unique<BugReport>("diagnostic", &window);
    QWidget *shown = dialog ? dialog.get() : &window;
    shown->show();
    for (const QString &line : clippedTexts(shown))
      out << style << ": " << line << "\n";
  }
  return 0;
}

// The largest difference of the two colours in one channel.
int channelGap(QRgb a, QRgb b) {
  return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                   std::abs(qBlue(a) - qBlue(b))});
}

// Another widget reaching over the frame's edge, not one merely around it.
bool overlapped(const QWidget *window, const QWidget *frame, QPoint at) {
  const QRect frameRect(frame->mapTo(window, QPoint()), frame->size());
  for (const QWidget *w : window->findChildren<QWidget *>()) {
    const QRect other(w->mapTo(window, QPoint()), w->size());
    if (w != frame && w->isVisibleTo(window) && !frame->isAncestorOf(w) &&
        other.contains(at) && !other.contains(frameRect))
      return true;
  }
  return false;
}

// Child: every form in one style; for each side of each framed widget, the
// colours met from its outermost device pixel inwards across the frame, one
// entry per run of like pixels. Sides another widget overlaps are left out.
void reportFrameLines(QWidget *window, const QString &form, QTextStream &out) {
  const QImage image = window->grab().toImage();
  const qreal ratio = image.devicePixelRatio();
  // The device pixel of a 96-DPI pixel's outer side, as Qt rounds geometry.
  const auto device = [ratio](int logical, int inwards) {
    const auto round = [ratio](int v) {
      return int(std::floor(v * ratio + 0.5));
    };
    return inwards < 0 ? round(logical + 1) - 1 : round(logical);
  };
  for (QWidget *frame : window->findChildren<QWidget *>()) {
    const auto *framed = qobject_cast<QFrame *>(frame);
    const int frameWidth =
        framed ? framed->frameWidth()
        : qobject_cast<QProgressBar *>(frame)
            ? frame->style()->pixelMetric(QStyle::PM_DefaultFrameWidth)
            : 0;
    if (!frame->isVisibleTo(window) || frameWidth == 0)
      continue;
    const QRect r(frame->mapTo(window, QPoint()), frame->size());
    const QPoint mid = r.center();
    const struct {
      const char *name;
      QPoint at, inwards;
    } sides[] = {{"top", {mid.x(), r.top()}, {0, 1}},
                 {"bottom", {mid.x(), r.bottom()}, {0, -1}},
                 {"left", {r.left(), mid.y()}, {1, 0}},
                 {"right", {r.right(), mid.y()}, {-1, 0}}};
    for (const auto &side : sides) {
      if (overlapped(window, frame, side.at))
        continue;
      const QPoint edge(device(side.at.x(), side.inwards.x()),
                        device(side.at.y(), side.inwards.y()));
      QRgb run = image.pixel(edge);
      out << form << '/' << frame->objectName() << ' ' << side.name << ' '
          << QColor(run).name();
      for (int i = 1; i <= std::ceil(frameWidth * ratio); ++i) {
        const QRgb pixel = image.pixel(edge + side.inwards * i);
        if (channelGap(pixel, run) > 8)
          out << ' ' << QColor(pixel).name();
        run = pixel;
      }
      out << '\n';
    }
  }
}

int reportFrames(const QString &style, QTextStream &out) {
  Vorsk window;
  window.ChangeStyle(style, true);
  window.show();
  Options options(&window, restyleOf(window));
  About about("diagnostic", &window);
  BugReport bugReport("diagnostic", &window);
  const std::pair<QWidget *, const char *> forms[] = {
      {&window, "Vorsk"},
      {&options, "Options"},
      {&about, "About"},
      {&bugReport, "BugReport"}};
  for (const auto &[form, name] : forms) {
    form->show();
    if (!QTest::qWaitForWindowExposed(form))
      return 1;
    reportFrameLines(form, name, out);
  }
  return 0;
}

// Runs a child at the given DPI and returns its lines.
QStringList childLines(const QStringList &arguments, int dpi) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_FONT_DPI", QString::number(dpi));
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), arguments);
  if (!child.waitForFinished(60000) || child.exitCode() != 0)
    return {};
  return QString(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// Whether every line of the frame at 100 % (all but the last entry, the
// inside) is met, in the same order, across the frame at another scale.
bool keepsLines(const QStringList &reference, const QStringList &scaled) {
  int found = 0;
  const int lines = reference.size() - 1;
  for (const QString &colour : scaled)
    if (found < lines &&
        channelGap(QColor(reference[found]).rgb(), QColor(colour).rgb()) <= 8)
      ++found;
  return found == lines;
}
} // namespace

class TextFitTest : public QObject {
  Q_OBJECT

private slots:
  void everyTextFitsAtEveryDpi_data() {
    QTest::addColumn<QString>("form");
    QTest::addColumn<int>("dpi");
    for (const char *form : {"Vorsk", "Options", "About", "BugReport"})
      for (int dpi : {96, 120, 144, 192})
        QTest::addRow("%s at %d DPI", form, dpi) << QString(form) << dpi;
  }
  void everyTextFitsAtEveryDpi() {
    QFETCH(QString, form);
    QFETCH(int, dpi);
    QStringList lines = childLines({"--form", form}, dpi);
    QVERIFY(!lines.isEmpty());
    // The whole interface scales with the screen, not only its fonts, and
    // dense screens get the @2x images.
    QCOMPARE(
        lines.takeFirst(),
        QString("ratio %1 images %2").arg(dpi / 96.0).arg(dpi > 96 ? 2 : 1));
    QVERIFY2(lines.isEmpty(), qPrintable(lines.join('\n')));
  }

  // A frame placed between two device pixels must still show every line it
  // shows at 100 %: no line lost outside the widget's clip or under its
  // viewport, in any style.
  void everyFrameKeepsItsLines_data() {
    QTest::addColumn<QString>("style");
    QTest::addColumn<int>("dpi");
    for (const char *style : Styles)
      for (int dpi : {120, 144, 168, 192})
        QTest::addRow("%s at %d DPI", style, dpi) << QString(style) << dpi;
  }
  void everyFrameKeepsItsLines() {
    QFETCH(QString, style);
    QFETCH(int, dpi);
    static QHash<QString, QStringList> atHundred;
    if (!atHundred.contains(style))
      atHundred[style] = childLines({"--frames", style}, 96);
    const QStringList reference = atHundred[style];
    const QStringList scaled = childLines({"--frames", style}, dpi);
    QVERIFY(!reference.isEmpty());
    QCOMPARE(scaled.size(), reference.size());
    QStringList lost;
    for (int i = 0; i < reference.size(); ++i) {
      const QStringList want = reference[i].split(' ');
      const QStringList have = scaled[i].split(' ');
      if (have.mid(0, 2) != want.mid(0, 2) ||
          !keepsLines(want.mid(2), have.mid(2)))
        lost << reference[i] + " -> " + have.mid(2).join(' ');
    }
    QVERIFY2(lost.isEmpty(), qPrintable(lost.join('\n')));
  }
};

int main(int argc, char *argv[]) {
  const QByteArray child = argc == 3 ? argv[1] : "";
  if (child == "--frames" || child == "--form") {
    enableHighDpiScaling();
    QApplication app(argc, argv);
    addApplicationFonts();
    // The images live in the static core library; keep them linked in.
    Q_INIT_RESOURCE(resources);
    QFile::remove("Vorsk.ini");
    FakePlatformScope scope;
    QTextStream out(stdout);
    return child == "--form" ? reportForm(argv[2], out)
                             : reportFrames(argv[2], out);
  }
  QCoreApplication app(argc, argv);
  TextFitTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_textfit.moc"

#include "app/Fonts.h"
#include "app/Vorsk.h"
#include "platform/fake/FakePlatform.h"
#include "resources/Display.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPointer>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QtTest>

// ChangeStyle acts on the whole application; every case ends back on the
// native look so that the next one starts from it.
class StylesTest : public QObject {
  Q_OBJECT

  template <class T = QWidget> static T *child(Vorsk &w, const char *name) {
    return w.findChild<T *>(name);
  }
  // The application's palette for a window made in the scope, which keeps
  // it as its saved colours; the test's own palette comes back at the end.
  struct AppPalette {
    explicit AppPalette(const QPalette &palette) {
      QApplication::setPalette(palette);
    }
    ~AppPalette() { QApplication::setPalette(saved); }
    QPalette saved = QApplication::palette();
  };
  // The look drawn, through the proxy that keeps frames on device pixels.
  static QString styleOf(const QWidget *w) {
    const auto *proxy = qobject_cast<const QProxyStyle *>(w->style());
    return (proxy ? proxy->baseStyle() : w->style())->metaObject()->className();
  }

  // A main window on the fake platform, in the given look.
  struct Window : FakePlatformScope, Vorsk {
    explicit Window(const QString &style = QString()) {
      if (!style.isEmpty())
        ChangeStyle(style, true);
    }
  };

  QString native;

private slots:
  void initTestCase() {
    // The program registers the images in main(); this test has its own.
    Q_INIT_RESOURCE(resources);
    addApplicationFonts();
    native = QApplication::style()->objectName();
    QFile::remove("Vorsk.ini");
  }
  void cleanup() { Window w("Aucun"); }

  void vexaHidesTheSystemGroupAndOtherStylesShowIt() {
    Window w("Vexa");
    QVERIFY(child(w, "groupBoxSys")->isHidden());
    QCOMPARE(QApplication::style()->objectName(), QString("plastique"));
    QCOMPARE(w.palette().brush(QPalette::Window).style(), Qt::TexturePattern);
    QCOMPARE(child(w, "widgetEnd")->palette().brush(QPalette::Window).style(),
             Qt::TexturePattern);
    QCOMPARE(
        child<QTextEdit>(w, "textLog")->palette().brush(QPalette::Base).style(),
        Qt::TexturePattern);
    QCOMPARE(QApplication::palette().color(QPalette::Button), QColor("#555"));
    QCOMPARE(
        QApplication::palette().color(QPalette::Disabled, QPalette::ButtonText),
        QColor("#AAA"));

    w.ChangeStyle("Motif", true);
    QVERIFY(!child(w, "groupBoxSys")->isHidden());
    QCOMPARE(
        child<QTextEdit>(w, "textLog")->palette().brush(QPalette::Base).style(),
        Qt::SolidPattern);
  }

  void nativeAndUnknownStyles() {
    const QPalette saved = QApplication::palette();
    Window w("Cleanlooks");
    QCOMPARE(QApplication::style()->objectName(), QString("cleanlooks"));
    w.ChangeStyle("NoSuchStyle", true);
    QCOMPARE(QApplication::style()->objectName(), QString("cleanlooks"));
    w.ChangeStyle("Aucun", true);
    QCOMPARE(QApplication::style()->objectName(), native);
    QCOMPARE(QApplication::palette(), saved);
  }

  void paletteFlagChoosesStandardOrSavedColours() {
    QPalette own = QApplication::palette();
    own.setColor(QPalette::Window, QColor(1, 2, 3));
    AppPalette palette(own);
    Window w;
    w.ChangeStyle("Plastique", false);
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(1, 2, 3));
    QCOMPARE(child(w, "widgetEnd")->palette().color(QPalette::Window),
             QColor(1, 2, 3));
    w.ChangeStyle("Plastique", true);
    QCOMPARE(QApplication::palette().color(QPalette::Window),
             QApplication::style()->standardPalette().color(QPalette::Window));
  }

  void previewsReleaseTheBarsPreviousStyles() {
    Window w;
    QPointer<QStyle> first = child(w, "barTest")->style();
    const char *styles[] = {"Motif", "Plastique", "Vexa", "CDE", "Aucun"};
    for (int i = 0; i < 100; ++i)
      w.ChangeStyle(styles[i % 5], i % 2);
    QVERIFY(first.isNull());
    for (QWidget *bar : {child(w, "barTest"), child(w, "barCPU")})
      QCOMPARE(
          bar->findChildren<QStyle *>(QString(), Qt::FindDirectChildrenOnly)
              .size(),
          1);
  }

  void paleHighlightIsDarkenedForTheBars_data() {
    QTest::addColumn<QColor>("highlight");
    QTest::addColumn<bool>("darkened");
    QTest::newRow("white") << QColor(255, 255, 255) << true;
    QTest::newRow("sum of exactly 480") << QColor(200, 180, 100) << false;
    QTest::newRow("sum of 481") << QColor(200, 180, 101) << true;
    QTest::newRow("dark") << QColor(0, 0, 128) << false;
  }
  void paleHighlightIsDarkenedForTheBars() {
    QFETCH(QColor, highlight);
    QFETCH(bool, darkened);
    const QColor expected = darkened ? highlight.darker(160) : highlight;
    QPalette own = QApplication::palette();
    own.setColor(QPalette::Active, QPalette::Highlight, highlight);
    own.setColor(QPalette::Inactive, QPalette::Highlight, Qt::red);
    AppPalette palette(own);
    Window w("Aucun");
    for (QWidget *bar : {child(w, "barTest"), child(w, "barCPU")}) {
      QCOMPARE(bar->palette().color(QPalette::Active, QPalette::Highlight),
               expected);
      QCOMPARE(bar->palette().color(QPalette::Inactive, QPalette::Highlight),
               expected);
    }
    // The application keeps the colour it had.
    QCOMPARE(
        QApplication::palette().color(QPalette::Active, QPalette::Highlight),
        highlight);
  }

  // In every look: the bars get a style of their own, the duration list
  // shows seven items, and the separator is one line with or without the
  // log's scroll bar.
  void layoutInEveryStyle_data() {
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("barStyle");
    const QString motif("QMotifStyle"), plastique("QPlastiqueStyle");
    for (const char *style : {"Windows", "Motif", "CDE"})
      QTest::newRow(style) << QString(style) << motif;
    for (const char *style : {"Aucun", "Plastique", "Cleanlooks", "Vexa"})
      QTest::newRow(style) << QString(style) << plastique;
  }
  void layoutInEveryStyle() {
    QFETCH(QString, style);
    QFETCH(QString, barStyle);
    Window w(style);
    QCOMPARE(styleOf(child(w, "barTest")), barStyle);
    QCOMPARE(styleOf(child(w, "barCPU")), barStyle);
    QVERIFY(child(w, "barTest")->style() != child(w, "barCPU")->style());
    QVERIFY(child(w, "barTest")->style() != QApplication::style());

    w.show();
    QComboBox *duration = child<QComboBox>(w, "comboDuration");
    duration->showPopup();
    QAbstractItemView *list = duration->view();
    const QRect viewport = list->viewport()->rect();
    int shown = 0;
    for (int row = 0; row < duration->count(); ++row) {
      const QRect item = list->visualRect(duration->model()->index(row, 0));
      shown +=
          item.top() >= viewport.top() && item.bottom() <= viewport.bottom();
    }
    duration->hidePopup();
    QCOMPARE(shown, 7);

    QTextEdit *log = child<QTextEdit>(w, "textLog");
    for (bool scrolling : {false, true}) {
      log->clear();
      w.Controller().Log("Votre PC est stable !");
      for (int i = 0; scrolling && i < 30; ++i)
        w.Controller().Log("ligne");
      // A run after another starts with the separator.
      w.StartTest();
      w.Controller().Close();
      QCoreApplication::processEvents();
      QCOMPARE(log->verticalScrollBar()->isVisible(), scrolling);
      QTextBlock separator = log->document()->firstBlock();
      while (separator.isValid() && separator.text() != QString(52, '_'))
        separator = separator.next();
      QVERIFY(separator.isValid());
      QCOMPARE(separator.layout()->lineCount(), 1);
      QVERIFY(!log->horizontalScrollBar()->isVisible());
    }
  }

  void storedStyleIsAppliedAtConstruction() {
    {
      QSettings s("Vorsk.ini", QSettings::IniFormat);
      s.setValue("Style", "Vexa");
    }
    Window w;
    QFile::remove("Vorsk.ini");
    QVERIFY(child(w, "groupBoxSys")->isHidden());
    QCOMPARE(QApplication::style()->objectName(), QString("plastique"));
  }
};

QTEST_MAIN(StylesTest)
#include "tst_styles.moc"

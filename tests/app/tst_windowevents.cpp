#include "app/Vorsk.h"
#include "platform/fake/FakePlatform.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QTextEdit>
#include <QtTest>

class WindowEventsTest : public QObject {
  Q_OBJECT

  static QSystemTrayIcon *tray(Vorsk &w) {
    return w.findChild<QSystemTrayIcon *>();
  }
  template <class T = QWidget> static T *child(Vorsk &w, const char *name) {
    return w.findChild<T *>(name);
  }

private slots:
  void init() { QFile::remove("Vorsk.ini"); }
  void cleanup() {
    QFile::remove("Vorsk.ini");
    QFile::remove("Event.log");
  }

  // The menu opens a window not yet shown and quits one shown; hiding
  // without minimising keeps the tray icon hidden.
  void trayIconAndMenu() {
    FakePlatformScope scope;
    Vorsk w;
    QVERIFY(!tray(w)->isVisible());
    QVERIFY(!tray(w)->icon().isNull());
    QCOMPARE(tray(w)->toolTip(), QString("Vorsk 1.0.4"));
    const QList<QAction *> actions = tray(w)->contextMenu()->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QString("&Ouvrir"));
    QVERIFY(actions[1]->isSeparator());
    QCOMPARE(actions[2]->text(), QString("&Quitter"));

    actions[0]->trigger();
    QVERIFY(w.isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.hide();
    QVERIFY(!tray(w)->isVisible());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    actions[2]->trigger();
    QVERIFY(!w.isVisible());
  }

  void minimiseToTheTrayAndBack() {
    FakePlatformScope scope;
    Vorsk w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.move(60, 70);
    const QPoint before = w.pos();

    w.showMinimized();
    // Without a window manager nothing reports the minimising: say it.
    if (!tray(w)->isVisible()) {
      QHideEvent hide;
      QApplication::sendEvent(&w, &hide);
    }
    if (!tray(w)->isVisible())
      QSKIP("no tray icon can be shown on this display");
    QVERIFY(!w.isVisible());

    emit tray(w)->activated(QSystemTrayIcon::DoubleClick);
    emit tray(w)->activated(QSystemTrayIcon::Context);
    QVERIFY(!w.isVisible());
    QVERIFY(tray(w)->isVisible());

    emit tray(w)->activated(QSystemTrayIcon::Trigger);
    QVERIFY(w.isVisible());
    QVERIFY(!w.isMinimized());
    QVERIFY(!tray(w)->isVisible());
    QCOMPARE(w.pos(), before);
  }

  void withoutATrayMinimisingKeepsTheWindowInTheTaskBar() {
    FakePlatformScope scope;
    Vorsk w(false);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.showMinimized();
    QHideEvent hide;
    QApplication::sendEvent(&w, &hide);
    QVERIFY(!tray(w)->isVisible());
    QVERIFY(w.isVisible());
    QCOMPARE(child<QTextEdit>(w, "textLog")->toPlainText(),
             QString::fromUtf8("Le System Tray est indisponible : la fenêtre "
                               "se réduit dans la barre des tâches."));
  }

  void growingMakesTheLogPaneTaller_data() {
    QTest::addColumn<int>("height");
    QTest::newRow("by 100 pixels") << 523;
    QTest::newRow("to the maximum") << 691;
    QTest::newRow("back to the minimum") << 423;
  }
  void growingMakesTheLogPaneTaller() {
    QFETCH(int, height);
    FakePlatformScope scope;
    Vorsk w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(410, 600);
    w.resize(410, height);
    QTRY_COMPARE(w.height(), height);
    const int extra = height - 423;
    QTRY_COMPARE(child(w, "textLog")->height(), 113 + extra);
    QCOMPARE(child(w, "textLog")->width(), 391);
    QCOMPARE(child(w, "pushAbout")->pos(), QPoint(10, 392 + extra));
    QCOMPARE(child(w, "pushGraph")->pos(), QPoint(155, 392 + extra));
    QCOMPARE(child(w, "pushQuit")->pos(), QPoint(300, 392 + extra));
    QCOMPARE(child(w, "widgetEnd")->pos(), QPoint(0, 415 + extra));
  }
};

QTEST_MAIN(WindowEventsTest)
#include "tst_windowevents.moc"

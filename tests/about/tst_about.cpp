#include "ModalCloser.h"
#include "about/About.h"
#include "about/Diagnostic.h"
#include "about/MakerConfig.h"
#include "app/Fonts.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMap>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QtTest>

using LeafTable = QMap<uint32_t, CpuidRegisters>;
Q_DECLARE_METATYPE(LeafTable)

namespace {
// A processor recorded leaf by leaf; leaves it did not report read as 0.
CpuidReader Recorded(const LeafTable &leaves) {
  return [leaves](uint32_t leaf) {
    return leaves.value(leaf, CpuidRegisters{0, 0, 0, 0});
  };
}

const char *const Core2Text =
    "Intel(R) Core(TM)2 CPU          6600  @ 2.40GHz\n\n"
    "00000001 : 000006F6 00020800 0000E3BD BFEBFBFF\n"
    "00000002 : 05B0B101 005657F0 00000000 2CB43049\n"
    "00000003 : 00000000 00000000 00000000 00000000\n"
    "00000004 : 04000121 01C0003F 0000003F 00000001\n"
    "00000005 : 00000040 00000040 00000003 00000020\n"
    "00000006 : 00000001 00000002 00000001 00000000\n"
    "00000007 : 00000000 00000000 00000000 00000000\n"
    "00000008 : 00000400 00000000 00000000 00000000\n"
    "00000009 : 00000000 00000000 00000000 00000000\n"
    "0000000A : 07280202 00000000 00000000 00000000\n"
    "80000001 : 00000000 00000000 00000001 20100000\n"
    "80000002 : 65746E49 2952286C 726F4320 4D542865\n"
    "80000003 : 43203229 20205550 20202020 30303636\n"
    "80000004 : 20402020 30342E32 007A4847 00000000\n"
    "80000005 : 00000000 00000000 00000000 00000000\n"
    "80000006 : 00000000 00000000 10008040 00000000\n"
    "80000007 : 00000000 00000000 00000000 00000000\n"
    "80000008 : 00003024 00000000 00000000 00000000\n"
    "____________________________________________________\n\n"
    "Test started.\nVotre PC est stable !\n";

// The recorded processor: the leaves its diagnostic lists, and the two
// headers giving the highest leaves, which the diagnostic leaves out.
LeafTable Core2() {
  LeafTable leaves{
      {0x00000000, {0x0000000A, 0x756E6547, 0x6C65746E, 0x49656E69}},
      {0x80000000, {0x80000008, 0, 0, 0}}};
  for (const QString &line : QString(Core2Text).split('\n').mid(2, 18)) {
    const QStringList words = QString(line).remove(" :").split(' ');
    const auto word = [&words](int i) { return words[i].toUInt(nullptr, 16); };
    leaves[word(0)] = {word(1), word(2), word(3), word(4)};
  }
  return leaves;
}

// Receives the links the dialog hands to the desktop.
class LinkCatcher : public QObject {
  Q_OBJECT
public slots:
  void open(const QUrl &url) { opened << url; }

public:
  QList<QUrl> opened;
};

// A point over the first link of the label, found by hovering over it.
QPoint FindLink(QLabel *label) {
  QString hovered;
  QObject::connect(label, &QLabel::linkHovered,
                   [&](const QString &link) { hovered = link; });
  for (int y = 0; y < label->height(); y += 3) {
    for (int x = 0; x < label->width(); x += 3) {
      QMouseEvent move(QEvent::MouseMove, QPoint(x, y), Qt::NoButton,
                       Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(label, &move);
      if (!hovered.isEmpty())
        return QPoint(x, y);
    }
  }
  return QPoint(-1, -1);
}

// Dark pixels of a text drawn in a font.
int Ink(const QFont &font, const QString &text) {
  QImage image(400, 80, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.drawText(5, 60, text);
  painter.end();
  int dark = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      dark += qGray(image.pixel(x, y)) < 128;
  return dark;
}
} // namespace

class TestAbout : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() { Q_INIT_RESOURCE(resources); }

  void diagnosticText_data() {
    QTest::addColumn<LeafTable>("leaves");
    QTest::addColumn<int>("standard");
    QTest::addColumn<int>("extended");
    QTest::addColumn<QString>("exact");
    const LeafTable core2 = Core2();
    LeafTable noExtended = core2;
    noExtended[0x80000000] = {0x0000000A, 0, 0, 0};
    LeafTable bogus = core2;
    bogus[0] = {0xFFFFFFFF, 0, 0, 0};
    bogus[0x80000000] = {0xFFFFFFFF, 0, 0, 0};
    QTest::newRow("recorded processor")
        << core2 << 10 << 8 << QString(Core2Text);
    QTest::newRow("extended header below the extended range")
        << noExtended << 10 << 0 << QString();
    QTest::newRow("no leaves at all") << LeafTable() << 0 << 0 << QString();
    QTest::newRow("bogus highest leaves are capped")
        << bogus << int(MaxListedLeaves) << int(MaxListedLeaves) << QString();
  }

  void diagnosticText() {
    QFETCH(LeafTable, leaves);
    QFETCH(int, standard);
    QFETCH(int, extended);
    QFETCH(QString, exact);
    const QString name = "Intel(R) Core(TM)2 CPU          6600  @ 2.40GHz";
    const QString log = "Test started.\nVotre PC est stable !\n";
    const QString text = DiagnosticText(name, Recorded(leaves), log);
    if (!exact.isEmpty())
      QCOMPARE(text, exact);
    QVERIFY(text.startsWith(name + "\n\n"));
    QVERIFY(text.endsWith(QString(52, '_') + "\n\n" + log));
    QRegularExpression leafLine("^([0-9A-F]{8}) : [0-9A-F]{8} [0-9A-F]{8} "
                                "[0-9A-F]{8} [0-9A-F]{8}$");
    int standardSeen = 0, extendedSeen = 0;
    for (const QString &line : text.split('\n')) {
      const auto match = leafLine.match(line);
      if (!match.hasMatch())
        continue;
      const uint32_t leaf = match.captured(1).toUInt(nullptr, 16);
      QVERIFY(leaf != 0 && leaf != 0x80000000);
      (leaf < 0x80000000 ? standardSeen : extendedSeen)++;
    }
    QCOMPARE(standardSeen, standard);
    QCOMPARE(extendedSeen, extended);
  }

  void presentation() {
    About about("diag", nullptr);
    QCOMPARE(about.windowTitle(), QString("A propos de..."));
    QCOMPARE(about.findChild<QLabel *>("labelTitle")->text(),
             QString("Vorsk 1.0.4"));
    QVERIFY(!about.findChild<QLabel *>("labelIcon")
                 ->pixmap(Qt::ReturnByValue)
                 .isNull());
    auto *text = about.findChild<QLabel *>("labelAbout");
    QVERIFY(text->openExternalLinks());
    QVERIFY(text->text().contains("mailto:" + BuiltInReportRoute().mailbox));
    QVERIFY(text->text().contains(MakerHomePage()));
    QVERIFY(text->text().contains(QString("Qt ") + qVersion()));
    QVERIFY(!text->text().contains(QRegularExpression("%[0-9]")));
    // The engine is Vorsk's own.
    QVERIFY(text->text().contains(QString::fromUtf8("moteur propre à Vorsk")));
    QVERIFY(!text->text().contains("BLAS", Qt::CaseInsensitive));
    // The licence the copyright file and the metainfo name.
    QVERIFY(text->text().contains("GPL-3.0-or-later"));
    QVERIFY(text->text().contains(QDir::currentPath()));
  }

  // With the fonts the program loads, the title's bold face is really bolder
  // than the regular one, and the title fits its label.
  void titleLooksBold() {
    addApplicationFonts();
    About about("diag", nullptr);
    const auto *title = about.findChild<QLabel *>("labelTitle");
    QFont regular = title->font();
    regular.setBold(false);
    QVERIFY(Ink(title->font(), title->text()) >
            Ink(regular, title->text()) * 13 / 10);
    QVERIFY(QFontMetrics(title->font()).horizontalAdvance(title->text()) <=
            title->width());
  }

  void linkOpensOutside() {
    LinkCatcher catcher;
    for (const char *scheme : {"https", "mailto"})
      QDesktopServices::setUrlHandler(scheme, &catcher, "open");
    About about("diag", nullptr);
    about.show();
    auto *text = about.findChild<QLabel *>("labelAbout");
    const QPoint link = FindLink(text);
    QVERIFY(link.x() >= 0);
    QTest::mouseClick(text, Qt::LeftButton, Qt::NoModifier, link);
    for (const char *scheme : {"https", "mailto"})
      QDesktopServices::unsetUrlHandler(scheme);
    QCOMPARE(catcher.opened.size(), 1);
    QVERIFY(about.isVisible());
  }

  void bugReportReturnsToAbout() {
    About about("diag", nullptr);
    about.show();
    ModalCloser closer;
    about.findChild<QPushButton *>("pushBugReport")->click();
    QCOMPARE(closer.closed, QStringList{"Rapport de bug||0"});
    QVERIFY(about.isVisible());
  }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"

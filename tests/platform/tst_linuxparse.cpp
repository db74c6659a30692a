#include "platform/linux/LinuxParse.h"

#include <QtTest>

namespace {

using Parse = bool (*)(const std::string &, uint64_t *);

bool interruptTotal(const std::string &name, uint64_t *total) {
  const std::string interrupts =
      "           CPU0       CPU1       \n"
      "  0:         37          0  IO-APIC   2-edge      timer\n"
      "THR:          3          4   Threshold APIC interrupts\n"
      "MCE:          0          0   Machine check exceptions\n"
      "MCP:         91         91   Machine check polls\n";
  return parseInterruptTotal(interrupts, name, total);
}

void accepts(const char *name, Parse parse, const char *text, quint64 value) {
  QTest::newRow(name) << parse << QString(text) << true << value;
}

void refuses(const char *name, Parse parse, const char *text) {
  QTest::newRow(name) << parse << QString(text) << false << quint64(0);
}

} // namespace

Q_DECLARE_METATYPE(Parse)

// Recorded /proc and /sys text, including the shapes that break naive
// field splitting.
class LinuxParseTest : public QObject {
  Q_OBJECT

private slots:
  // Each parser keeps its output untouched when it refuses the text.
  void counts_data() {
    QTest::addColumn<Parse>("parse");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("value");
    const Parse stat = parseTaskStatUserTicks;
    accepts(
        "stat: plain command name", stat,
        "4242 (vorsk) R 1 4242 4242 0 -1 4194560 1021 0 0 0 1234 56 0 0 20 0 "
        "3 0 889 123456 789 18446744073709551615",
        1234);
    accepts(
        "stat: command name with ') (' and blanks", stat,
        "77 (a) (b c) d) S 1 77 77 0 -1 4194304 10 0 0 0 98765 4 0 0 20 0 1 "
        "0 5 6 7",
        98765);
    accepts("stat: command name of one blank", stat,
            "5 ( ) S 1 5 5 0 -1 0 0 0 0 0 7 0 0 0 20 0 1 0 1 2 3", 7);
    accepts("stat: zero ticks", stat,
            "9 (idle) S 1 9 9 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 1 2 3", 0);
    refuses("stat: line cut before utime", stat,
            "9 (cut) S 1 9 9 0 -1 0 0 0 0");
    refuses("stat: no closing parenthesis", stat,
            "9 (broken S 1 9 9 0 -1 0 0 0 0 0 7 0");
    refuses("stat: empty text", stat, "");
    refuses("stat: utime not a number", stat,
            "9 (x) S 1 9 9 0 -1 0 0 0 0 0 abc 0 0 0");
    refuses("stat: utime with trailing garbage", stat,
            "9 (x) S 1 9 9 0 -1 0 0 0 0 0 12ab 0 0 0");
    refuses("stat: utime too large for 64 bits", stat,
            "9 (x) S 1 9 9 0 -1 0 0 0 0 0 99999999999999999999999 0 0 0");

    accepts("kHz: scaling_cur_freq", parseKiloHertz, "4412500\n", 4412500);
    refuses("kHz: no clock", parseKiloHertz, "0\n");
    refuses("kHz: empty", parseKiloHertz, "");
    refuses("kHz: not a number", parseKiloHertz, "<unknown>\n");

    accepts("interrupts: summed over processors, the description left out",
            interruptTotal, "THR", 7);
    refuses("interrupts: a name that only starts another line's",
            interruptTotal, "MC");
    refuses("interrupts: a name inside a description", interruptTotal, "APIC");
  }

  void counts() {
    QFETCH(Parse, parse);
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(quint64, value);
    uint64_t parsed = 555;
    QCOMPARE(parse(text.toStdString(), &parsed), ok);
    QCOMPARE(quint64(parsed), ok ? value : quint64(555));
  }

  void cpuList_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVector<int>>("cpus");
    const QVector<int> none;
    QTest::newRow("single processor") << "0" << true << QVector<int>{0};
    QTest::newRow("single processor with the file's newline")
        << "0\n"
        << true << QVector<int>{0};
    QTest::newRow("ranges and singles")
        << "0-3,6,8-9\n"
        << true << QVector<int>{0, 1, 2, 3, 6, 8, 9};
    QTest::newRow("processors above 63 kept")
        << "62-65,1023" << true << QVector<int>{62, 63, 64, 65, 1023};
    QTest::newRow("beyond any kernel") << "8192" << false << none;
    QTest::newRow("empty") << "" << false << none;
    QTest::newRow("newline only") << "\n" << false << none;
    QTest::newRow("garbage") << "cpu zero" << false << none;
    QTest::newRow("reversed range") << "3-1" << false << none;
    QTest::newRow("open range") << "1-" << false << none;
    QTest::newRow("negative number") << "-1" << false << none;
    QTest::newRow("number with trailing garbage") << "0-3x" << false << none;
    QTest::newRow("number too large")
        << "99999999999999999999999" << false << none;
  }

  void cpuList() {
    QFETCH(QString, list);
    QFETCH(bool, ok);
    QFETCH(QVector<int>, cpus);
    CpuSet parsed = CpuSet::single(555);
    QCOMPARE(parseCpuList(list.toStdString(), &parsed), ok);
    std::vector<int> members = ok ? parsed.members() : std::vector<int>{};
    QCOMPARE(QVector<int>(members.begin(), members.end()), cpus);
    if (!ok)
      QCOMPARE(parsed, CpuSet::single(555));
  }
};

QTEST_GUILESS_MAIN(LinuxParseTest)
#include "tst_linuxparse.moc"

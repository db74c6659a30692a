#include "platform/linux/LinuxParse.h"

#include <QtTest>

// Recorded /proc and /sys text, including the shapes that break naive
// field splitting.
class LinuxParseTest : public QObject {
  Q_OBJECT

private slots:
  void taskStatUserTicks_data() {
    QTest::addColumn<QString>("stat");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("ticks");
    QTest::newRow("plain command name")
        << "4242 (vorsk) R 1 4242 4242 0 -1 4194560 1021 0 0 0 1234 56 0 0 "
           "20 0 3 0 889 123456 789 18446744073709551615"
        << true << quint64(1234);
    QTest::newRow("command name with ') (' and blanks")
        << "77 (a) (b c) d) S 1 77 77 0 -1 4194304 10 0 0 0 98765 4 0 0 20 0 "
           "1 0 5 6 7"
        << true << quint64(98765);
    QTest::newRow("command name of one blank")
        << "5 ( ) S 1 5 5 0 -1 0 0 0 0 0 7 0 0 0 20 0 1 0 1 2 3" << true
        << quint64(7);
    QTest::newRow("zero ticks")
        << "9 (idle) S 1 9 9 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 1 2 3" << true
        << quint64(0);
    QTest::newRow("line cut before utime")
        << "9 (cut) S 1 9 9 0 -1 0 0 0 0" << false << quint64(0);
    QTest::newRow("no closing parenthesis")
        << "9 (broken S 1 9 9 0 -1 0 0 0 0 0 7 0" << false << quint64(0);
    QTest::newRow("empty text") << "" << false << quint64(0);
    QTest::newRow("utime not a number")
        << "9 (x) S 1 9 9 0 -1 0 0 0 0 0 abc 0 0 0" << false << quint64(0);
    QTest::newRow("utime with trailing garbage")
        << "9 (x) S 1 9 9 0 -1 0 0 0 0 0 12ab 0 0 0" << false << quint64(0);
    QTest::newRow("utime too large for 64 bits")
        << "9 (x) S 1 9 9 0 -1 0 0 0 0 0 99999999999999999999999 0 0 0" << false
        << quint64(0);
  }

  void taskStatUserTicks() {
    QFETCH(QString, stat);
    QFETCH(bool, ok);
    QFETCH(quint64, ticks);
    uint64_t parsed = 555;
    QCOMPARE(parseTaskStatUserTicks(stat.toStdString(), &parsed), ok);
    QCOMPARE(parsed, ok ? uint64_t(ticks) : uint64_t(555));
  }

  void kiloHertz_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("kHz");
    QTest::newRow("scaling_cur_freq") << "4412500\n"
                                      << true << quint64(4412500);
    QTest::newRow("no clock") << "0\n" << false << quint64(0);
    QTest::newRow("empty") << "" << false << quint64(0);
    QTest::newRow("not a number") << "<unknown>\n" << false << quint64(0);
  }

  void kiloHertz() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(quint64, kHz);
    uint64_t parsed = 7;
    QCOMPARE(parseKiloHertz(text.toStdString(), &parsed), ok);
    QCOMPARE(quint64(parsed), ok ? kHz : quint64(7));
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

  void interruptTotal_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("total");
    QTest::newRow("summed over processors, the description left out")
        << "THR" << true << quint64(7);
    QTest::newRow("a name that only starts another line's")
        << "MC" << false << quint64(0);
    QTest::newRow("a name inside a description")
        << "APIC" << false << quint64(0);
  }
  void interruptTotal() {
    QFETCH(QString, name);
    QFETCH(bool, ok);
    QFETCH(quint64, total);
    const std::string interrupts =
        "           CPU0       CPU1       \n"
        "  0:         37          0  IO-APIC   2-edge      timer\n"
        "THR:          3          4   Threshold APIC interrupts\n"
        "MCE:          0          0   Machine check exceptions\n"
        "MCP:         91         91   Machine check polls\n";
    uint64_t parsed = 555;
    QCOMPARE(parseInterruptTotal(interrupts, name.toStdString(), &parsed), ok);
    QCOMPARE(parsed, ok ? uint64_t(total) : uint64_t(555));
  }
};

QTEST_GUILESS_MAIN(LinuxParseTest)
#include "tst_linuxparse.moc"

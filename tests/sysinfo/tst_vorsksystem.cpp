#include "RecordedMachine.h"

#include "app/Vorsk.h"
#include "sysinfo/SystemInfo.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSysInfo>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

// The identification as the main window shows it.
class TestVorskSystem : public QObject {
  Q_OBJECT

  static QString label(Vorsk &w, const char *name) {
    return w.findChild<QLabel *>(name)->text();
  }

private slots:
  void summaryOfARecordedProcessor();
  void emptyProcessSetWarnsAndShowsTheClearedRecord();
};

void TestVorskSystem::summaryOfARecordedProcessor() {
  RecordedMachine m;
  m.cpu.setVendor("AuthenticAMD", 1);
  setLeaf1(m.cpu, RecordedProcessor::signature(15, 11, 1), 2u << 16, 1,
           1u | 1u << 23 | 1u << 25 | 1u << 26 | 1u << 28);
  m.cpu.setBrandString("AMD Athlon(tm) 64 X2 Dual Core Processor 4200+",
                       0x80000008);
  m.cpu.setLeaf(0x80000001, 0, {0, 0, 0, 1u << 29 | 1u << 31});
  m.cpu.setLeaf(0x80000006, 0, {0, 0, 512u << 16, 0});
  m.cpu.setLeaf(0x80000008, 0, {0, 0, 1, 0}); // two cores
  m.cpu.setApicId(1, 1);
  m.cpu.tscMHz = 2211;

  Vorsk w;
  QCOMPARE(w.windowTitle(),
           "Vorsk 1.0.4 (" + QSysInfo::prettyProductName() + ")");
  QCOMPARE(label(w, "labelName"),
           QString("AMD Athlon(tm) 64 X2 Dual Core Processor 4200+"));
  QCOMPARE(label(w, "labelInstructions"),
           QString("MMX, 3DNow!, SSE, SSE2, SSE3, x86-64"));
  QCOMPARE(label(w, "labelFrequency"), QString("2211.0 MHz"));
  QCOMPARE(label(w, "labelCacheL2"), QString("2 x 512Ko"));
  QCOMPARE(label(w, "labelConfiguration"), QString("1 Processeur Dualcore"));
  QCOMPARE(int(m_SystemInfo.LogicalCount), 2);
  QCOMPARE(m.fake.currentAffinity, CpuSet(0x3));
}

void TestVorskSystem::emptyProcessSetWarnsAndShowsTheClearedRecord() {
  RecordedMachine m;
  m.cpu.setVendor("AuthenticAMD", 1);
  m.fake.processMask = CpuSet();
  m.fake.systemMask = 0x3;

  QStringList boxes;
  QTimer closer;
  connect(&closer, &QTimer::timeout, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
      return;
    boxes << box->windowTitle() + "|" + box->text();
    box->accept();
  });
  closer.start(10);

  Vorsk w;
  closer.stop();
  QCOMPARE(boxes, QStringList{"Vorsk 1.0.4|Vorsk ne peut accéder à tous les "
                              "processeurs logiques !"});
  QCOMPARE(label(w, "labelName"), QString());
  QCOMPARE(label(w, "labelFrequency"), QString("0.0 MHz"));
  QCOMPARE(label(w, "labelConfiguration"), QString("0 Processeurs Multicore"));
  QCOMPARE(w.findChild<QTextEdit *>("textLog")->toPlainText(), QString());
  QVERIFY(m.fake.affinityHistory.empty());
}

QTEST_MAIN(TestVorskSystem)
#include "tst_vorsksystem.moc"

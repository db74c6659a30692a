#include "Publisher.h"

#include "platform/fake/FakePlatform.h"
#include "platform/fake/RecordedProcessor.h"
#include "sensors/LmSensors.h"
#include "sensors/SensorListing.h"
#include "sensors/SensorMonitor.h"
#include "sensors/ThermalSensors.h"
#include "sysinfo/SystemInfo.h"

#include <QLabel>
#include <QtTest>

#include <cmath>

namespace {

const char K8_PACKAGE0[] = "0000:00:18.3";

// The main window's part in a reading on a fake machine: its labels, log
// pane and settings.
struct Window {
  FakePlatformScope scope;
  FakePlatform &fake = scope.fake;
  RecordedProcessorScope recorded{fake};
  QLabel temperature{"init"};
  QLabel vcore{"init"};
  QStringList log;
  SensorChoice choice;
  SensorMonitor monitor;

  int tick(bool running) {
    return monitor.ReadSensors(choice, running,
                               {[this](const QString &t, const QString &v) {
                                  temperature.setText(t);
                                  vcore.setText(v);
                                },
                                [this](const QString &l) { log << l; }});
  }
  // Publishes the bytes under the object's name first.
  int tick(bool running, const std::string &object, const Bytes &bytes) {
    fake.publish(object, bytes);
    return tick(running);
  }
  QStringList endOfRun() {
    QStringList lines;
    monitor.EndSensorRun(choice, [&](const QString &l) { lines << l; });
    return lines;
  }
};

// Every figure a run keeps.
QVector<double> figures(const SensorMonitor &m) {
  return {m.Temperature,    m.TemperatureMin, m.TemperatureAvg,
          m.TemperatureMax, m.Vcore,          m.VcoreMin,
          m.VcoreAvg,       m.VcoreMax,       double(m.SampleCount)};
}

Bytes speedFan(int32_t hundredthsC, int voltages = 0, int32_t hundredthsV = 0) {
  return speedFanBytes({hundredthsC},
                       std::vector<int32_t>(size_t(voltages), hundredthsV));
}

Bytes sysTool(double celsius, double volts) {
  return sysToolBytes({{"CPU", 2, 0, celsius}, {"VCore", 3, 0, volts}});
}

// A processor with the digital thermal sensor and working register access.
void intelProcessor(RecordedProcessor &cpu, uint64_t thermStatus) {
  cpu.setLeaf(6, 0, {1, 2, 0, 0});
  cpu.setMsr(0, 0);
  cpu.setMsr(MSR_THERM_STATUS, thermStatus);
  m_SystemInfo.TjMax = 100;
}

// A dual-core K8 package: core 0 reads 40 °C (select 4), core 1 45 °C.
void k8Processor(FakePlatform &fake, RecordedProcessor &cpu) {
  cpu.setLeaf(0x80000007, 0, {0, 0, 0, 8});
  cpu.setLeaf(1, 0, {0x00020FB1, 0, 0, 0});
  fake.pciRegisters[{K8_PACKAGE0, 0, 0}] = 0x11031022;
  m_SystemInfo.LogicalCount = 2;
  m_SystemInfo.CoresPerPackage = 2;
  m_SystemInfo.Apic = {{0, 0, 0, 0}, {1, 0, 1, 1}};
  fake.pciRegisters[{K8_PACKAGE0, 0xE4, 4}] = (49 + 40) << 16;
  fake.pciRegisters[{K8_PACKAGE0, 0xE4, 0}] = (49 + 45) << 16;
}

} // namespace

class TestSensorMonitor : public QObject {
  Q_OBJECT

private slots:
  void cleanup() {
    m_SystemInfo = SystemInfo{};
    QFile::remove("Monitoring.txt");
  }

  void noSourceOrUnreachableSource() {
    Window w;
    QCOMPARE(w.tick(true), 0);
    for (int source = 1; source <= 4; ++source) {
      w.choice.Monitoring = source;
      QCOMPARE(w.tick(true), 0);
    }
    QCOMPARE(w.temperature.text(), QString("init"));
    QCOMPARE(w.vcore.text(), QString("init"));
    QCOMPARE(w.monitor.SampleCount, 0);

    // Temperature present but no voltage.
    w.choice.Monitoring = SOURCE_SPEEDFAN;
    QCOMPARE(w.tick(false, "SFSharedMemory_ALM", speedFan(4500)), 1);
    QCOMPARE(w.temperature.text(), QString("45.0 °C"));
    QCOMPARE(w.vcore.text(), QString("-"));
  }

  void sourceDisappearsAndComesBack() {
    Window w;
    w.choice.Monitoring = SOURCE_SPEEDFAN;
    QCOMPARE(w.tick(true, "SFSharedMemory_ALM", speedFan(4500, 1, 130)), 1);
    w.fake.unpublish("SFSharedMemory_ALM");
    QCOMPARE(w.tick(true), 0);
    QCOMPARE(w.tick(true), 0);
    QCOMPARE(w.monitor.SampleCount, 1);
    QCOMPARE(w.temperature.text(), QString("45.0 °C"));
    QCOMPARE(w.vcore.text(), QString("1.30 V"));
    QCOMPARE(w.tick(true, "SFSharedMemory_ALM", speedFan(5000, 1, 140)), 1);
    QCOMPARE(w.monitor.SampleCount, 2);
    QCOMPARE(w.temperature.text(), QString("50.0 °C"));
  }

  void statisticsOfARun() {
    Window w;
    w.choice.Monitoring = SOURCE_SPEEDFAN;

    // Idle ticks show values but keep no statistics.
    w.tick(false, "SFSharedMemory_ALM", speedFan(9000));
    QCOMPARE(w.monitor.SampleCount, 0);
    QCOMPARE(w.monitor.TemperatureMax, -200.0);

    w.tick(true, "SFSharedMemory_ALM", speedFan(4500));
    QCOMPARE(w.monitor.SampleCount, 1);
    QCOMPARE(w.monitor.TemperatureMin, 45.0);
    QCOMPARE(w.monitor.TemperatureMax, 45.0);
    QCOMPARE(w.monitor.TemperatureAvg, 45.0);

    w.tick(true, "SFSharedMemory_ALM", speedFan(4800));
    QCOMPARE(w.monitor.TemperatureAvg, 46.5);
    QCOMPARE(w.monitor.TemperatureMax, 48.0);

    // A rejected value leaves the last one, counted again.
    w.tick(true, "SFSharedMemory_ALM", speedFan(0));
    QCOMPARE(w.monitor.SampleCount, 3);
    QCOMPARE(w.monitor.TemperatureAvg, 47.0);
    QCOMPARE(w.monitor.TemperatureMin, 45.0);

    // A voltage that appears late starts its mean with its own value, averaged
    // with the shared count from then on.
    w.tick(true, "SFSharedMemory_ALM", speedFan(4800, 1, 120));
    QCOMPARE(w.monitor.VcoreAvg, 1.2);
    w.tick(true, "SFSharedMemory_ALM", speedFan(4800, 1, 170));
    QCOMPARE(w.monitor.VcoreAvg, (4 * 1.2 + 1.7) / 5);
    QCOMPARE(w.monitor.VcoreMin, 1.2);
    QCOMPARE(w.monitor.VcoreMax, 1.7);
  }

  void temperatureLimit_data() {
    QTest::addColumn<int>("maxTemp");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<bool>("published");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("stops");
    QTest::newRow("70 at exactly 70.0") << 70 << 70.0 << true << true << true;
    QTest::newRow("70 at 69.9") << 70 << 69.9 << true << true << false;
    QTest::newRow("-70 never stops") << -70 << 150.0 << true << true << false;
    QTest::newRow("0 stops at 0") << 0 << 0.0 << true << true << true;
    QTest::newRow("0 does not stop below 0")
        << 0 << -1.0 << true << true << false;
    QTest::newRow("not tested while idle")
        << 50 << 90.0 << true << false << false;
    QTest::newRow("not tested when unreachable")
        << 50 << 90.0 << false << true << false;
  }

  void temperatureLimit() {
    QFETCH(int, maxTemp);
    QFETCH(double, celsius);
    QFETCH(bool, published);
    QFETCH(bool, running);
    QFETCH(bool, stops);
    Window w;
    w.choice.Monitoring = SOURCE_SYSTOOL;
    w.choice.TempSensor = "CPU";
    w.tick(running, "SysToolSensors", sysTool(celsius, 1.3));
    if (!published)
      w.fake.unpublish("SysToolSensors");
    int r = w.tick(running);
    QCOMPARE(w.monitor.MaxTempReached(r, maxTemp, running), stops);
  }

  void endOfRunSummary_data() {
    QTest::addColumn<QString>("voltSensor");
    QTest::addColumn<QPointF>("first"); // temperature, voltage
    QTest::addColumn<QPointF>("second");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("temperature and voltage")
        << "VCore" << QPointF(45, 1.30) << QPointF(47, 1.35)
        << QStringList{"Vcore : 1.33 V (1.30 à 1.35)",
                       "T° CPU : 46.0 °C (45.0 à 47.0)"};
    QTest::newRow("temperature present, voltage never")
        << "none" << QPointF(45, 1.30) << QPointF(47, 1.35)
        << QStringList{"T° CPU : 46.0 °C (45.0 à 47.0)"};
    QTest::newRow("values above the starting limits, none unmeasured")
        << "VCore" << QPointF(200, 12) << QPointF(250, 12.5)
        << QStringList{"Vcore : 12.25 V (12.00 à 12.50)",
                       "T° CPU : 225.0 °C (200.0 à 250.0)"};
    QTest::newRow("values below the starting limits, none unmeasured")
        << "VCore" << QPointF(-50, 0.05) << QPointF(-40, 0.05)
        << QStringList{"Vcore : 0.05 V (0.05 à 0.05)",
                       "T° CPU : -45.0 °C (-50.0 à -40.0)"};
  }

  void endOfRunSummary() {
    QFETCH(QString, voltSensor);
    QFETCH(QPointF, first);
    QFETCH(QPointF, second);
    QFETCH(QStringList, lines);
    Window w;
    w.choice = {SOURCE_SYSTOOL, "CPU", voltSensor, false};
    w.tick(true, "SysToolSensors", sysTool(first.x(), first.y()));
    w.tick(true, "SysToolSensors", sysTool(second.x(), second.y()));
    QCOMPARE(w.endOfRun(), lines);

    // Everything starts again from the construction values.
    QCOMPARE(figures(w.monitor), figures(SensorMonitor()));
    w.fake.unpublish("SysToolSensors");
    w.tick(false, "SysToolSensors", sysToolBytes({}));
    QCOMPARE(w.temperature.text(), QString("-"));
    QCOMPARE(w.vcore.text(), QString("-"));
  }

  void endOfRunWithoutSourceChangesNothing() {
    Window w;
    w.monitor.SampleCount = 3;
    w.monitor.Temperature = 50;
    w.monitor.TemperatureAvg = 50;
    w.monitor.TemperatureMin = w.monitor.TemperatureMax = 50;
    w.choice.ExportTXT = true;
    const QVector<double> before = figures(w.monitor);
    QCOMPARE(w.endOfRun(), QStringList());
    QCOMPARE(figures(w.monitor), before);
    QVERIFY(!QFile::exists("Monitoring.txt"));
  }

  void samplesGoToTheMonitoringLog() {
    Window w;
    w.choice = {SOURCE_SYSTOOL, "CPU", "VCore", true};
    w.tick(false, "SysToolSensors", sysTool(45.678, 1.3456)); // idle: no sample
    w.tick(true);
    w.tick(true);
    w.endOfRun();
    QFile file("Monitoring.txt");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("1\t45.67\t1.345\n2\t45.67\t1.345\n"));
  }

  void thermalFormulas() {
    QCOMPARE(IntelCoreTemperature(0x00220000, 100), 66);
    QCOMPARE(IntelCoreTemperature(0xFFFFFFFF, 85), 85 - 127);
    QCOMPARE(IntelCoreTemperature(0, 100), 100); // failed read
    QCOMPARE(K8ConfigAddress(0), 0x8000C3E4u);
    QCOMPARE(K8ConfigAddress(1), 0x8000CBE4u);
    QCOMPARE(K8SelectValue(2, 0), 4u);
    QCOMPARE(K8SelectValue(2, 1), 0u);
    QCOMPARE(K8SelectValue(1, 0), 0u); // single-core package
    QCOMPARE(K8Temperature(0), -49);
    QCOMPARE(K8Temperature(0xFF5A0000), 0x5A - 49);
  }

  void intelReading() {
    Window w;
    w.fake.runOnResume = true;
    w.choice = {SOURCE_INTEL, 1, QVariant(), false};

    // No sensor bit: unreachable, no thread.
    QCOMPARE(w.tick(true), 0);
    QCOMPARE(w.fake.callCount(FakePlatform::Op::CreateThread), 0);

    intelProcessor(w.recorded.cpu, 0x88220000);
    w.monitor.Vcore = 1.2;
    QCOMPARE(w.tick(true), 1);
    QCOMPARE(w.monitor.Temperature, 66.0);
    QCOMPARE(w.monitor.Vcore, NO_READING);
    QCOMPARE(w.temperature.text(), QString("66.0 °C"));
    QCOMPARE(w.vcore.text(), QString("-"));
    FakePlatform::Thread *t = w.fake.thread(1);
    QCOMPARE(t->affinity, CpuSet::single(1));
    QVERIFY(t->priority == ThreadPriority::AboveNormal);
    QVERIFY(t->closed);
    QVERIFY(w.log.isEmpty());

    // A failed register read gives TjMax.
    w.recorded.cpu.failingMsrs.insert(MSR_THERM_STATUS);
    QCOMPARE(w.tick(true), 1);
    QCOMPARE(w.monitor.Temperature, 100.0);

    // Without register access the source is unreachable.
    w.recorded.cpu.privilegeAvailable = false;
    QCOMPARE(w.tick(true), 0);

    // A failed wait is reported; the temperature stays.
    w.recorded.cpu.privilegeAvailable = true;
    w.fake.failAlways(FakePlatform::Op::WaitForThread);
    QCOMPARE(w.tick(true), 1);
    QCOMPARE(w.log, QStringList{"ThreadIntelCoreTemp() : WAIT_FAILED"});
    QCOMPARE(w.monitor.Temperature, 100.0);
  }

  void intelThreadStartFailures_data() {
    QTest::addColumn<int>("processor");
    QTest::addColumn<int>("failing");
    QTest::addColumn<QString>("line");
    QTest::newRow("thread not created")
        << 0 << int(FakePlatform::Op::CreateThread) << "CreateThread() error.";
    QTest::newRow("affinity refused")
        << 0 << int(FakePlatform::Op::SetThreadAffinityMask)
        << "SetThreadAffinityMask() error.";
    QTest::newRow("processor outside the process")
        << 2 << -1 << "SetThreadAffinityMask() error.";
    QTest::newRow("processor 32 is no shift by 32")
        << 32 << -1 << "SetThreadAffinityMask() error.";
    QTest::newRow("negative processor")
        << -1 << -1 << "SetThreadAffinityMask() error.";
    QTest::newRow("priority refused")
        << 0 << int(FakePlatform::Op::SetThreadPriority)
        << "SetThreadPriority() error.";
    QTest::newRow("resume refused")
        << 0 << int(FakePlatform::Op::ResumeThread) << "ResumeThread() error.";
  }

  void intelThreadStartFailures() {
    QFETCH(int, processor);
    QFETCH(int, failing);
    QFETCH(QString, line);
    Window w;
    w.fake.runOnResume = true;
    w.fake.processMask = 0x3;
    intelProcessor(w.recorded.cpu, 0x00220000);
    if (failing >= 0)
      w.fake.failAlways(FakePlatform::Op(failing));
    w.choice = {SOURCE_INTEL, processor, QVariant(), false};
    w.monitor.Temperature = 50;
    QCOMPARE(w.tick(true), 0);
    QCOMPARE(w.log, QStringList{line});
    QCOMPARE(w.monitor.Temperature, 50.0);
    QCOMPARE(w.temperature.text(), QString("init"));
    // A thread that was created is released and never ran.
    for (ThreadHandle h : w.fake.handles()) {
      QVERIFY(w.fake.thread(h)->closed);
      QCOMPARE(w.fake.thread(h)->exitCode, STILL_ACTIVE);
    }
  }

  void intelThreadThatTimesOut() {
    Window w;
    intelProcessor(w.recorded.cpu, 0x00220000);
    w.choice = {SOURCE_INTEL, 0, QVariant(), false};
    w.monitor.Temperature = 50;
    w.temperature.setText("50.0 °C");
    QCOMPARE(w.tick(true), 1);
    QVERIFY(w.log.isEmpty());
    QCOMPARE(w.monitor.Temperature, 50.0);
    QCOMPARE(w.temperature.text(), QString("50.0 °C"));

    // The thread ends late: it writes into the reading it co-owns, and its
    // result is never used.
    FakePlatform::Thread *t = w.fake.thread(1);
    QVERIFY(t->closed);
    QCOMPARE(t->proc(t->param), 0u);
    QCOMPARE(w.monitor.Temperature, 50.0);
  }

  void k8Reading() {
    Window w;
    w.choice = {SOURCE_K8, 1, QVariant(), false};
    QCOMPARE(w.tick(true), 0); // no thermal-trip bit

    k8Processor(w.fake, w.recorded.cpu);
    w.monitor.Vcore = 1.2;
    QCOMPARE(w.tick(true), 1);
    QCOMPARE(w.monitor.Temperature, 45.0);
    QCOMPARE(w.monitor.Vcore, NO_READING);
    w.choice.TempSensor = 0;
    QCOMPARE(w.tick(true), 1);
    QCOMPARE(w.monitor.Temperature, 40.0);

    // Processors this machine does not have: no reading at all.
    for (int processor : {2, 31, 32, -1}) {
      w.choice.TempSensor = processor;
      QCOMPARE(w.tick(true), 0);
    }
    QCOMPARE(w.monitor.Temperature, 40.0);

    // Refused to an ordinary user: unreachable, the last value stays.
    w.fake.pciRefused.insert(K8_PACKAGE0);
    QCOMPARE(w.tick(true), 0);
    QCOMPARE(w.monitor.Temperature, 40.0);
  }

  void listsProcessorSensors() {
    Window w;
    w.fake.processMask = w.fake.currentAffinity = 0xF;
    QVERIFY(!listSource(SOURCE_INTEL).present);

    intelProcessor(w.recorded.cpu, 0);
    for (int k = 0; k < 4; ++k)
      w.recorded.cpu.setMsr(MSR_THERM_STATUS, uint64_t(60 - k) << 16, k);
    SensorList intel = listSource(SOURCE_INTEL);
    QVERIFY(intel.present);
    QStringList names, values;
    for (const SensorEntry &e : intel.temperatures)
      names << e.name, values << e.valueText;
    QCOMPARE(names, (QStringList{"Température Core 0", "Température Core 1",
                                 "Température Core 2", "Température Core 3"}));
    QCOMPARE(values, (QStringList{"40.0 °C", "41.0 °C", "42.0 °C", "43.0 °C"}));
    QVERIFY(intel.voltages.isEmpty());
    QCOMPARE(w.fake.affinityHistory, (std::vector<CpuSet>{1, 2, 4, 8, 0xF}));

    k8Processor(w.fake, w.recorded.cpu);
    SensorList k8 = listSource(SOURCE_K8);
    QVERIFY(k8.present);
    QCOMPARE(k8.temperatures.size(), 2);
    QCOMPARE(k8.temperatures[1].name, QString("Température Core 1"));
    QCOMPARE(k8.temperatures[1].valueText, QString("45.0 °C"));
    QCOMPARE(k8.temperatures[0].valueText, QString("40.0 °C"));
    QVERIFY(!listSource(SOURCE_NONE).present);
  }

  // A rail chosen as Vcore and an input that fails keep their slot; a machine
  // whose chips are gone is unreachable.
  void lmSensorsReadingRules() {
    Window w;
    w.fake.sensors = {
        {"k10temp", "Tctl", SensorKind::Temperature, 61.5},
        {"nct6775", "Vcore", SensorKind::Voltage, 1.232},
        {"nct6775", "+12V", SensorKind::Voltage, 12.0},
        {"nct6775", "CPUTIN", SensorKind::Temperature, std::nan("")}};
    w.choice = {SOURCE_LMSENSORS, "k10temp Tctl", "nct6775 Vcore", false};
    QCOMPARE(w.tick(true), 1);
    QCOMPARE(w.temperature.text(), QString("61.5 °C"));
    QCOMPARE(w.vcore.text(), QString("1.23 V"));

    w.choice = {SOURCE_LMSENSORS, "nct6775 CPUTIN", "nct6775 +12V", false};
    QCOMPARE(w.tick(true), 1);
    QCOMPARE(w.monitor.Temperature, 61.5);
    QCOMPARE(w.monitor.Vcore, 1.232);
    QCOMPARE(w.monitor.VcoreMax, 1.232);

    w.fake.sensors.clear();
    QCOMPARE(w.tick(true), 0);
    QCOMPARE(w.monitor.SampleCount, 2);
  }
};

QTEST_MAIN(TestSensorMonitor)
#include "tst_sensormonitor.moc"

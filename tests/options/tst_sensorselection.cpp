#include "app/Vorsk.h"
#include "options/OptionsForm.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/RecordedProcessor.h"
#include "sensors/Publisher.h"
#include "sensors/SensorReaders.h"
#include "sensors/SensorSources.h"
#include "settings/Options.h"
#include "sysinfo/SystemInfo.h"

#include <QtTest>

namespace {
// Restores the identification's TjMax whatever the test's outcome.
struct TjMaxScope {
  explicit TjMaxScope(uint8_t value) : saved(m_SystemInfo.TjMax) {
    m_SystemInfo.TjMax = value;
  }
  ~TjMaxScope() { m_SystemInfo.TjMax = saved; }
  uint8_t saved;
};
} // namespace

// The monitoring group against sources published through the fake platform.
class OptionsTest : public QObject {
  Q_OBJECT

  static void store(int source, const QVariant &temp, const QVariant &volt) {
    QSettings s("Vorsk.ini", QSettings::IniFormat);
    s.setValue("Monitoring", source);
    s.setValue("TempSensor", temp);
    s.setValue("VoltSensor", volt);
  }

private slots:
  void init() { QFile::remove("Vorsk.ini"); }
  void cleanup() { QFile::remove("Vorsk.ini"); }

  void sysToolNameMatchesIgnoringCase() {
    FakePlatformScope scope;
    scope.fake.publish("SysToolSensors",
                       sysToolBytes({{"Board", 2, 0, 30.0},
                                     {"Hidden", 2, 1, 99.0},
                                     {"CPU", 2, 0, 47.25},
                                     {"Fan", 4, 0, 1200},
                                     {"Vcore", 3, 0, 1.3125}}));
    store(1, "cpu", "VCORE");
    Vorsk w;
    Options o(&w, restyleOf(w));
    QCOMPARE(ui(o).labelMonitoring->text(), QString::fromUtf8("Présent"));
    QCOMPARE(texts(ui(o).comboTCPU), QStringList({"Board", "CPU"}));
    QCOMPARE(ui(o).comboTCPU->currentText(), QString("CPU"));
    QCOMPARE(ui(o).labelTCPU->text(), QString::fromUtf8("47.3 °C"));
    QCOMPARE(ui(o).labelVcore->text(), QString("1.31 V"));
    QVERIFY(ui(o).comboTCPU->isEnabled() && ui(o).comboVcore->isEnabled());
    o.done(1);
    QCOMPARE(stored("TempSensor").toString(), QString("CPU"));
    QCOMPARE(stored("VoltSensor").toString(), QString("Vcore"));
  }

  void everestTrialIsShownUnchanged() {
    FakePlatformScope scope;
    scope.fake.publish(
        "EVEREST_SensorValues",
        everestBytes(
            "<temp><label>Carte</label><value>35</value></temp>"
            "<temp><label>CPU</label><value>TRIAL</value></temp>"
            "<volt><label>CPU Core</label><value>1.35</value></volt>"));
    store(3, "Absent name", QVariant());
    Vorsk w;
    Options o(&w, restyleOf(w));
    // A stored name the source no longer lists leaves the first entry.
    QCOMPARE(ui(o).labelTCPU->text(), QString::fromUtf8("35.0 °C"));
    ui(o).comboTCPU->setCurrentIndex(1);
    QCOMPARE(ui(o).labelTCPU->text(), QString("TRIAL"));
    QCOMPARE(ui(o).labelVcore->text(), QString("1.35 V"));
  }

  void speedFanStoredIndexes() {
    FakePlatformScope scope;
    scope.fake.publish(
        "SFSharedMemory_ALM",
        speedFanBytes({3000, 3500, 4000, 4550, 5000}, {120, 331}));
    store(2, 3, 1);
    Vorsk w;
    Options o(&w, restyleOf(w));
    QCOMPARE(ui(o).comboTCPU->currentIndex(), 3);
    QCOMPARE(ui(o).comboVcore->currentIndex(), 1);
    QCOMPARE(ui(o).labelTCPU->text(), QString::fromUtf8("45.5 °C"));
    QCOMPARE(ui(o).labelVcore->text(), QString("3.31 V"));

    // Only the stored source preselects; coming back does it again.
    ui(o).comboMonitoring->setCurrentIndex(4);
    QCOMPARE(ui(o).labelMonitoring->text(), QString("Absent"));
    ui(o).comboMonitoring->setCurrentIndex(2);
    QCOMPARE(ui(o).comboTCPU->currentIndex(), 3);

    // A stored index beyond the list leaves the first entry.
    scope.fake.publish("SFSharedMemory_ALM",
                       speedFanBytes({3000, 3500}, {120}));
    store(2, 7, 1);
    Options beyond(&w, restyleOf(w));
    QCOMPARE(ui(beyond).comboTCPU->currentIndex(), 0);
    QCOMPARE(ui(beyond).labelTCPU->text(), QString::fromUtf8("30.0 °C"));
  }

  void refusedObjectIsAbsentAndSaysWhy() {
    FakePlatformScope scope;
    scope.fake.publishRefused("SysToolSensors",
                              SharedMemoryRefusal::ForeignOwner);
    store(1, "CPU", "VCore");
    Vorsk w;
    Options o(&w, restyleOf(w));
    QCOMPARE(ui(o).labelMonitoring->text(), QString("Absent"));
    QVERIFY(ui(o).labelAbsence->text().contains("autre utilisateur"));
    ui(o).comboMonitoring->setCurrentIndex(2);
    QCOMPARE(ui(o).labelMonitoring->text(), QString("Absent"));
    QCOMPARE(ui(o).labelAbsence->text(),
             QString::fromUtf8("Le programme qui publie ces valeurs n'est "
                               "pas lancé."));
  }

  // An empty slot before the chosen one: the stored value is the slot the
  // reader takes, not the list position.
  void mbm5EmptySlotBeforeTheChosenOne() {
    FakePlatformScope scope;
    scope.fake.publish("$M$B$M$5$S$D$", mbm5Bytes({{0, "Board", 31.0},
                                                   {2, "CPU", 52.0},
                                                   {32, "Vcore", 1.2},
                                                   {34, "Vio", 3.1}}));
    Vorsk w;
    {
      Options o(&w, restyleOf(w));
      ui(o).comboMonitoring->setCurrentIndex(4);
      QCOMPARE(texts(ui(o).comboTCPU), QStringList({"Board", "CPU"}));
      QCOMPARE(texts(ui(o).comboVcore), QStringList({"Vcore", "Vio"}));
      ui(o).comboTCPU->setCurrentIndex(1);
      ui(o).comboVcore->setCurrentIndex(1);
      o.done(1);
    }
    const QVariant temp = stored("TempSensor");
    const QVariant volt = stored("VoltSensor");
    QCOMPARE(temp.toInt(), 2);
    QCOMPARE(volt.toInt(), 2);
    double temperature = NO_READING, vcore = NO_READING;
    QVERIFY(readSharedMemorySource(4, temp, volt, &temperature, &vcore));
    QCOMPARE(temperature, 52.0);
    QCOMPARE(vcore, 3.1);

    Options reopened(&w, restyleOf(w));
    QCOMPARE(ui(reopened).comboTCPU->currentText(), QString("CPU"));
    QCOMPARE(ui(reopened).comboVcore->currentText(), QString("Vio"));
  }

  // Chips are found again at each opening; the choice is stored as text.
  void lmSensorsNamesMatchIgnoringCase() {
    FakePlatformScope scope;
    scope.fake.sensors = {{"k10temp", "Tctl", SensorKind::Temperature, 61.5},
                          {"k10temp", "Tccd1", SensorKind::Temperature, 55.0},
                          {"nct6775", "+12V", SensorKind::Voltage, 12.0},
                          {"nct6775", "Vcore", SensorKind::Voltage, 1.232}};
    store(SOURCE_LMSENSORS, "K10TEMP tccd1", "nct6775 vcore");
    Vorsk w;
    Options o(&w, restyleOf(w));
    QCOMPARE(scope.fake.sensorRescans, 1);
    QCOMPARE(ui(o).labelMonitoring->text(), QString::fromUtf8("Présent"));
    QCOMPARE(texts(ui(o).comboTCPU),
             QStringList({"k10temp Tctl", "k10temp Tccd1"}));
    QCOMPARE(texts(ui(o).comboVcore),
             QStringList({"nct6775 +12V", "nct6775 Vcore"}));
    QVERIFY(ui(o).comboVcore->isEnabled());
    QCOMPARE(ui(o).labelTCPU->text(), QString::fromUtf8("55.0 °C"));
    QCOMPARE(ui(o).labelVcore->text(), QString("1.23 V"));
    o.done(1);
    QCOMPARE(stored("TempSensor").toString(), QString("k10temp Tccd1"));
    QCOMPARE(stored("VoltSensor").toString(), QString("nct6775 Vcore"));
  }

  // registers: 0 none (no msr device, no northbridge), 1 readable, 2 the
  // northbridge's registers past 64 bytes refused (an ordinary user).
  // No row may write PCI configuration space: on a processor that is not a
  // K8, 0xE4 of 00:18.3 is another register.
  void absentSourcesSayWhy_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<uint32_t>("sensorBits"); // leaf 6 EAX, or 0x80000007 EDX
    QTest::addColumn<uint32_t>("signature");  // leaf 1 EAX
    QTest::addColumn<uint32_t>("device");     // 00:18.3's vendor and device
    QTest::addColumn<int>("registers");
    QTest::addColumn<QString>("why");
    const uint32_t k8 = 0x00020FB1, k8Bridge = 0x11031022;
    const QString notK8 = "Ce processeur n'est pas un K8.";
    const QString noRegisters =
        "Registres du processeur inaccessibles : droits d'administrateur et "
        "module msr nécessaires.";
    QTest::newRow("monitoring program not running")
        << 1 << 0u << k8 << k8Bridge << 1
        << "Le programme qui publie ces valeurs n'est pas lancé.";
    QTest::newRow("Intel processor without the sensor")
        << 5 << 0u << k8 << k8Bridge << 1
        << "Ce processeur n'a pas de capteur thermique numérique.";
    QTest::newRow("Intel sensor, no register access")
        << 5 << 1u << k8 << k8Bridge << 0 << noRegisters;
    QTest::newRow("processor without the K8 sensor")
        << 6 << 0u << k8 << k8Bridge << 1
        << "Ce processeur n'a pas de capteur thermique K8.";
    QTest::newRow("K8 sensor, no northbridge device")
        << 6 << 8u << k8 << k8Bridge << 0
        << "Pont nord K8 introuvable (périphérique PCI 0000:00:18.3 absent).";
    QTest::newRow("K8 sensor, register refused to an ordinary user")
        << 6 << 8u << k8 << k8Bridge << 2
        << "Registre thermique K8 illisible : droits d'administrateur "
           "nécessaires.";
    QTest::newRow("Zen 3 with the diode bit, as root")
        << 6 << 8u << 0x00A20F10u << 0x166D1022u << 1 << notK8;
    QTest::newRow("family 10h with the diode bit, as root")
        << 6 << 8u << 0x00100F42u << 0x12031022u << 1 << notK8;
    QTest::newRow("family 0Fh, another device at 00:18.3")
        << 6 << 8u << k8 << 0x12031022u << 1 << notK8;
    QTest::newRow("no hwmon chip")
        << 7 << 0u << k8 << k8Bridge << 1
        << "Aucun capteur hwmon sur cette machine (cas de la plupart des "
           "machines virtuelles).";
  }
  void absentSourcesSayWhy() {
    QFETCH(int, source);
    QFETCH(uint32_t, sensorBits);
    QFETCH(uint32_t, signature);
    QFETCH(uint32_t, device);
    QFETCH(int, registers);
    QFETCH(QString, why);
    FakePlatformScope scope;
    Vorsk w;
    RecordedProcessorScope recorded(scope.fake);
    recorded.cpu.setLeaf(6, 0, {sensorBits, 1, 0, 0});
    recorded.cpu.setLeaf(0x80000007, 0, {0, 0, 0, sensorBits});
    recorded.cpu.setLeaf(1, 0, {signature, 0, 0, 0});
    if (registers == 1)
      recorded.cpu.setMsr(0, 0);
    if (registers != 0) {
      scope.fake.pciRegisters[{"0000:00:18.3", 0, 0}] = device;
      scope.fake.pciRegisters[{"0000:00:18.3", 0xE4, 0}] = 0;
    }
    if (registers == 2)
      scope.fake.pciRefused.insert("0000:00:18.3");
    Options o(&w, restyleOf(w));
    ui(o).comboMonitoring->setCurrentIndex(source);
    QCOMPARE(ui(o).labelMonitoring->text(), QString("Absent"));
    QCOMPARE(ui(o).labelAbsence->text(), why);
    ui(o).comboMonitoring->setCurrentIndex(0);
    QCOMPARE(ui(o).labelAbsence->text(), QString());
    QCOMPARE(scope.fake.pciWrites, 0);
  }

  void emptyListsStoreMinusOne() {
    FakePlatformScope scope;
    scope.fake.publish("SFSharedMemory_ALM", speedFanBytes({}, {}));
    store(0, 5, 5);
    Vorsk w;
    Options o(&w, restyleOf(w));
    ui(o).comboMonitoring->setCurrentIndex(2);
    QCOMPARE(ui(o).labelMonitoring->text(), QString::fromUtf8("Présent"));
    QVERIFY(ui(o).comboTCPU->isEnabled());
    QCOMPARE(ui(o).labelTCPU->text(), QString("-"));
    o.done(1);
    QCOMPARE(stored("TempSensor").toInt(), -1);
    QCOMPARE(stored("VoltSensor").toInt(), -1);
  }

  // A processor outside the process lies before the chosen one: the stored
  // value is the processor number the reader pins its thread to.
  void intelCoresSkipAProcessorOutsideTheProcess() {
    FakePlatformScope scope;
    // Identified on the machine the test runs on; the dialog then reads the
    // recorded processor.
    Vorsk w;
    RecordedProcessorScope recorded(scope.fake);
    RecordedProcessor &cpu = recorded.cpu;
    TjMaxScope tjMax(100);
    scope.fake.processMask = scope.fake.currentAffinity = 0b1011;
    cpu.setLeaf(6, 0, {1, 1, 0, 0});
    cpu.setMsr(0, 0);
    for (int p : {0, 1, 3})
      cpu.setMsr(0x19C, uint64_t(10 * (p + 1)) << 16, p);
    {
      Options o(&w, restyleOf(w));
      ui(o).comboMonitoring->setCurrentIndex(5);
      QCOMPARE(texts(ui(o).comboTCPU),
               QStringList({QString::fromUtf8("Température Core 0"),
                            QString::fromUtf8("Température Core 1"),
                            QString::fromUtf8("Température Core 3")}));
      QCOMPARE(scope.fake.currentAffinity, CpuSet(0b1011));
      QVERIFY(!ui(o).comboVcore->isEnabled());
      QCOMPARE(ui(o).comboVcore->count(), 0);
      ui(o).comboTCPU->setCurrentIndex(2);
      QCOMPARE(ui(o).labelTCPU->text(), QString::fromUtf8("60.0 °C"));
      o.done(1);
    }
    QCOMPARE(stored("TempSensor").toInt(), 3);
    QCOMPARE(stored("VoltSensor").toInt(), -1);
    Options reopened(&w, restyleOf(w));
    QCOMPARE(ui(reopened).comboTCPU->currentText(),
             QString::fromUtf8("Température Core 3"));
  }
};

QTEST_MAIN(OptionsTest)
#include "tst_sensorselection.moc"

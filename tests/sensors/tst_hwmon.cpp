// glib before Qt: Qt defines "signals" as a keyword that glib uses as a name.
#include <umockdev.h>

#include "app/Vorsk.h"
#include "platform/EngineContract.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/RecordedProcessor.h"
#include "platform/linux/LibSensors.h"
#include "platform/linux/LinuxPlatform.h"
#include "sensors/SensorListing.h"
#include "sensors/ThermalSensors.h"
#include "stress/ErrorWatch.h"
#include "stress/ThreadStress.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QSettings>
#include <QtTest>

// Recorded machines played by umockdev to the real lm-sensors library, seen
// through the listing of the options, the first start and the sensor tick of
// the main window. Runs under umockdev-run.

namespace {

// The fake's threads and clock; the real library for the sensors.
class RecordedHwmon : public FakePlatform {
public:
  void rescanSensors() override { linuxPlatform().rescanSensors(); }
  std::vector<SensorInput> sensorInputs() override {
    return linuxPlatform().sensorInputs();
  }
  bool readSensorInput(const std::string &chip, const std::string &label,
                       SensorKind kind, double *value) override {
    return linuxPlatform().readSensorInput(chip, label, kind, value);
  }
  PciConfigRead readPciConfig(const std::string &device, uint32_t offset,
                              uint32_t *value) override {
    return linuxPlatform().readPciConfig(device, offset, value);
  }
  bool writePciConfigByte(const std::string &device, uint32_t offset,
                          uint8_t value) override {
    return linuxPlatform().writePciConfigByte(device, offset, value);
  }
  std::string pciDriver(const std::string &device) override {
    return linuxPlatform().pciDriver(device);
  }
  bool processorClockKHz(int cpu, uint64_t *kHz) override {
    return linuxPlatform().processorClockKHz(cpu, kHz);
  }
};

struct RecordedScope {
  RecordedHwmon recorded;
  Platform *previous = setPlatform(&recorded);
  ~RecordedScope() { setPlatform(previous); }
};

// The EDAC counters as the Linux layer reads them; the machine-check lines
// are this host's own.
QStringList edacCounters() {
  QStringList counters;
  for (const ErrorCounter &c : linuxPlatform().hardwareErrorCounters())
    if (c.source.rfind("EDAC", 0) == 0)
      counters << QString::asprintf("%s %llu %llu", c.source.c_str(),
                                    (unsigned long long)c.corrected,
                                    (unsigned long long)c.uncorrected);
  return counters;
}

QStringList listed(const QVector<SensorEntry> &entries) {
  QStringList texts;
  for (const SensorEntry &e : entries)
    texts << e.name + " = " + e.valueText;
  return texts;
}

void machine(const char *name, const QString &file,
             const QStringList &temperatures, const QStringList &voltages,
             const QString &firstSensor, const QString &watched,
             const QString &vcore, const QString &hotInput,
             const QStringList &summary) {
  QTest::newRow(name) << file << temperatures << voltages << firstSensor
                      << watched << vcore << hotInput << summary;
}

} // namespace

class HwmonTest : public QObject {
  Q_OBJECT

  UMockdevTestbed *testbed = nullptr;

  bool add(const QString &machine) {
    const QByteArray file = MACHINES_DIR "/" + machine.toUtf8() + ".umockdev";
    GError *error = nullptr;
    return umockdev_testbed_add_from_file(testbed, file, &error);
  }

private slots:
  void initTestCase() { QVERIFY(umockdev_in_mock_environment()); }

  void init() { testbed = umockdev_testbed_new(); }

  void cleanup() {
    g_object_unref(testbed);
    m_SystemInfo = SystemInfo{};
    setStopFlagLowByte(&bStopTest, 1);
    QFile::remove("Vorsk.ini");
    QFile::remove("empty.conf");
  }

  void recordedMachines_data() {
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QStringList>("temperatures");
    QTest::addColumn<QStringList>("voltages");
    QTest::addColumn<QString>("firstSensor");
    QTest::addColumn<QString>("watched");
    QTest::addColumn<QString>("vcore");
    QTest::addColumn<QString>("hotInput"); // device, attribute
    QTest::addColumn<QStringList>("summary");

    machine("AMD Zen 4: Tctl and two CCDs", "k10temp-zen4",
            {"k10temp Tctl = 66.0 °C", "k10temp Tccd1 = 58.0 °C",
             "k10temp Tccd2 = 61.0 °C"},
            {}, "k10temp Tctl", "k10temp Tctl", "",
            "/sys/devices/pci0000:00/0000:00:18.3/hwmon/hwmon2 temp1_input",
            {"T° CPU : 78.0 °C (66.0 à 90.0)"});
    machine("AMD Zen 2 through zenpower: Tdie listed before Tctl", "zenpower",
            {"zenpower Tdie = 62.0 °C", "zenpower Tctl = 72.0 °C",
             "zenpower Tccd1 = 60.0 °C"},
            {}, "zenpower Tctl", "zenpower Tctl", "",
            "/sys/devices/pci0000:00/0000:00:18.3/hwmon/hwmon1 temp2_input",
            {"T° CPU : 81.0 °C (72.0 à 90.0)"});
    machine("Intel: package and four cores", "coretemp",
            {"coretemp Package id 0 = 52.0 °C", "coretemp Core 0 = 49.0 °C",
             "coretemp Core 1 = 51.0 °C", "coretemp Core 2 = 47.0 °C",
             "coretemp Core 3 = 50.0 °C"},
            {}, "coretemp Package id 0", "coretemp Package id 0", "",
            "/sys/devices/platform/coretemp.0/hwmon/hwmon4 temp1_input",
            {"T° CPU : 71.0 °C (52.0 à 90.0)"});
    machine("Super-I/O, Vcore labelled and scaled by sensors3.conf", "nct6775",
            {"nct6775 SYSTIN = 34.0 °C", "nct6775 CPUTIN = 42.0 °C"},
            {"nct6775 Vcore = 1.23 V", "nct6775 +5V = 5.08 V",
             "nct6775 AVCC = 3.34 V", "nct6775 +3.3V = 3.33 V",
             "nct6775 +12V = 12.00 V"},
            "nct6775 CPUTIN", "nct6775 CPUTIN", "nct6775 Vcore",
            "/sys/devices/platform/nct6775.656/hwmon/hwmon3 temp2_input",
            {"Vcore : 1.23 V (1.23 à 1.23)", "T° CPU : 66.0 °C (42.0 à 90.0)"});
    machine("ACPI zone only: no processor sensor to start with", "acpitz",
            {"acpitz temp1 = 27.8 °C"}, {}, "", "acpitz temp1", "",
            "/sys/devices/virtual/thermal/thermal_zone0/hwmon0 temp1_input",
            {"T° CPU : 58.9 °C (27.8 à 90.0)"});
    machine("virtual machine without hwmon", "no-hwmon", {}, {}, "", "", "", "",
            {});
  }

  void recordedMachines() {
    QFETCH(QString, machine);
    QFETCH(QStringList, temperatures);
    QFETCH(QStringList, voltages);
    QFETCH(QString, firstSensor);
    QFETCH(QString, watched);
    QFETCH(QString, vcore);
    QFETCH(QString, hotInput);
    QFETCH(QStringList, summary);

    QVERIFY(add(machine));
    // The system's configuration would rename what these files record; a
    // machine's own lies beside its recording.
    QFile("empty.conf").open(QIODevice::WriteOnly);
    const QString config = MACHINES_DIR "/" + machine + ".conf";
    libSensors().setConfigFile(QFile::exists(config) ? config.toStdString()
                                                     : "empty.conf");

    RecordedScope scope;

    // The options' listing, after the rescan of their opening.
    platform().rescanSensors();
    const SensorList list = listSource(SOURCE_LMSENSORS);
    QCOMPARE(list.present, !temperatures.isEmpty());
    QCOMPARE(listed(list.temperatures), temperatures);
    QCOMPARE(listed(list.voltages), voltages);

    // The first start chooses the processor's sensor, and only then.
    {
      Vorsk w;
      const RunController &run = w.Controller();
      QCOMPARE(run.Sensors().Monitoring,
               firstSensor.isEmpty() ? 0 : int(SOURCE_LMSENSORS));
      QCOMPARE(run.Sensors().TempSensor.toString(), firstSensor);
      QCOMPARE(run.SensorsReading(), !firstSensor.isEmpty());
      QSettings stored("Vorsk.ini", QSettings::IniFormat);
      QCOMPARE(stored.contains("Monitoring"), !firstSensor.isEmpty());
      QCOMPARE(stored.value("TempSensor").toString(), firstSensor);
      // A choice made, even of no source, is never changed.
      stored.setValue("Monitoring", 0);
      stored.sync();
      Vorsk again;
      QCOMPARE(again.Controller().Sensors().Monitoring, 0);
    }

    // A run watched through the sensor tick, ended by the limit.
    SensorMonitor run;
    const SensorChoice choice{SOURCE_LMSENSORS, watched, vcore, false};
    QString shown;
    QStringList log;
    const AppendLog appendLog = [&](const QString &line) { log << line; };
    const SensorDisplay display{[&](const QString &temperature,
                                    const QString &) { shown = temperature; },
                                appendLog};
    const auto limitReached = [&] {
      return run.MaxTempReached(run.ReadSensors(choice, true, display), 90,
                                true);
    };
    if (watched.isEmpty()) {
      QCOMPARE(run.ReadSensors(choice, true, display), 0);
      QCOMPARE(shown, QString());
    } else {
      QVERIFY(!limitReached());
      const QStringList hot = hotInput.split(' ');
      umockdev_testbed_set_attribute(testbed, hot[0].toUtf8(), hot[1].toUtf8(),
                                     "90000\n");
      QVERIFY(limitReached());
      QCOMPARE(shown, QString("90.0 °C"));
    }
    log.clear();
    run.EndSensorRun(choice, appendLog);
    QCOMPARE(log, summary);
  }

  // A dual-core K8 package whose northbridge's thermal register reads 44 °C,
  // through its configuration file; the kernel shows an ordinary user only
  // the first 64 bytes of it.
  void k8NorthbridgeThroughSysfs() {
    const char device[] = "/sys/devices/pci0000:00/0000:00:18.3";
    QVERIFY(add("k8"));
    RecordedScope scope;
    RecordedProcessorScope recorded(scope.recorded);
    recorded.cpu.setLeaf(0x80000007, 0, {0, 0, 0, 8});
    recorded.cpu.setLeaf(1, 0, {0x00020FB1, 0, 0, 0});
    m_SystemInfo.LogicalCount = 2;
    m_SystemInfo.CoresPerPackage = 2;
    m_SystemInfo.Apic = {{0, 0, 0, 0}, {1, 0, 1, 1}};

    const SensorList list = listSource(SOURCE_K8);
    QCOMPARE(listed(list.temperatures),
             (QStringList{"Température Core 0 = 44.0 °C",
                          "Température Core 1 = 44.0 °C"}));
    double temperature = 0, vcore = 0;
    QCOMPARE(ReadK8Source(0, &temperature, &vcore), 1);
    QCOMPARE(temperature, 44.0);
    // Core 0's select went into the register's low byte only.
    QFile config("/sys/bus/pci/devices/0000:00:18.3/config");
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll().mid(0xE4, 4), QByteArray("\x04\x00\x5D\x00", 4));

    // With the kernel's k8temp driver bound, the source stands aside and
    // selects nothing.
    umockdev_testbed_set_property(testbed, device, "DRIVER", "k8temp");
    QCOMPARE(listSource(SOURCE_K8).whyAbsent,
             QString("Capteur K8 déjà lu par le pilote k8temp du noyau : "
                     "choisissez la source lm-sensors."));
    QCOMPARE(ReadK8Source(1, &temperature, &vcore), 0);
    QVERIFY(config.seek(0));
    QCOMPARE(config.readAll().mid(0xE4, 4), QByteArray("\x04\x00\x5D\x00", 4));
    umockdev_testbed_set_property(testbed, device, "DRIVER", "");

    QVERIFY(config.seek(0));
    QByteArray header = config.read(64);
    umockdev_testbed_set_attribute_binary(
        testbed, device, "config", reinterpret_cast<guint8 *>(header.data()),
        header.size());
    QCOMPARE(listSource(SOURCE_K8).whyAbsent,
             QString("Registre thermique K8 illisible : droits "
                     "d'administrateur nécessaires."));
    temperature = 1;
    QCOMPARE(ReadK8Source(0, &temperature, &vcore), 0);
    QCOMPARE(temperature, 1.0);

    umockdev_testbed_remove_device(testbed, device);
    QCOMPARE(listSource(SOURCE_K8).whyAbsent,
             QString("Pont nord K8 introuvable (périphérique PCI 0000:00:18.3 "
                     "absent)."));
  }

  // The kernel's clock of four processors: two publish one, one has no
  // cpufreq and one says 0. The recorded processor's MSRs cannot be read.
  void cpufreqClocksUnderLoad() {
    QVERIFY(add("cpufreq"));
    RecordedScope scope;
    RecordedProcessorScope recorded(scope.recorded);
    m_SystemInfo.bConstantTsc = 1;
    m_SystemInfo.TscFrequency = 3000;
    m_SystemInfo.Processor = {0, 1, 2, 3};
    std::vector<LoadClock> clocks;
    sysinfo::SampleProcessorClocks(clocks, {0, 1, 2, 3});
    umockdev_testbed_set_attribute(testbed, "/sys/devices/system/cpu/cpu0",
                                   "cpufreq/scaling_cur_freq", "4390000\n");
    sysinfo::SampleProcessorClocks(clocks, {0, 1, 2, 3});
    double mhz = 0;
    QCOMPARE(sysinfo::processorClocksLine(clocks, &mhz),
             QString("Fréquence : 4417.5 MHz (4385.0 à 4450.0)"));
  }

  // A memory controller whose rows count two corrected errors during a run.
  void edacCountersRiseDuringARun() {
    QVERIFY(add("edac"));
    Platform *previous = setPlatform(&linuxPlatform());
    ErrorWatch watch;
    watch.Start();
    QCOMPARE(edacCounters(), (QStringList{"EDAC mc0 4 0", "EDAC mc0 csrow0 4 0",
                                          "EDAC mc0 csrow1 0 0"}));
    QVERIFY(!watch.Rose());

    const char mc0[] = "/sys/devices/system/edac/mc/mc0";
    umockdev_testbed_set_attribute(testbed, mc0, "ce_count", "6\n");
    umockdev_testbed_set_attribute(
        testbed, "/sys/devices/system/edac/mc/mc0/csrow1", "ce_count", "2\n");
    QVERIFY(watch.Rose());
    QVERIFY(watch.Watched());
    QCOMPARE(hardwareErrorLines(watch.Watched(), watch.Rises()),
             (QStringList{"Erreurs matérielles pendant le test (EDAC mc0) : 2 "
                          "corrigée(s), 0 non corrigée(s).",
                          "Erreurs matérielles pendant le test (EDAC mc0 "
                          "csrow1) : 2 corrigée(s), 0 non corrigée(s)."}));
    setPlatform(previous);
  }
};

QTEST_MAIN(HwmonTest)
#include "tst_hwmon.moc"

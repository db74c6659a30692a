#include "Publisher.h"

#include "sensors/SensorReaders.h"
#include "sensors/SensorSources.h"

#include <QtTest>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(Bytes)

namespace {

Bytes truncated(Bytes b, size_t size) {
  b.resize(size);
  return b;
}

QStringList entries(const QVector<SensorEntry> &list) {
  QStringList texts;
  for (const SensorEntry &e : list)
    texts << e.name + "|" + e.valueText + "|" + QString::number(e.number);
  return texts;
}

const double START_T = 12.5;
const double START_V = 1.25;

// One element of the XML text: kind "temp" or "volt".
std::string sensor(const std::string &kind, const std::string &label,
                   const std::string &value) {
  return "<" + kind + "><label>" + label + "</label><value>" + value +
         "</value></" + kind + ">";
}

void reading(const char *name, int source, const Bytes &bytes,
             const QVariant &tempSensor, const QVariant &voltSensor,
             double temperature, double vcore) {
  QTest::newRow(name) << source << bytes << tempSensor << voltSensor
                      << temperature << vcore;
}

void listing(const char *name, int source, const Bytes &bytes,
             const QStringList &temperatures, const QStringList &voltages) {
  QTest::newRow(name) << source << bytes << temperatures << voltages;
}

} // namespace

// Each layout is published as a real POSIX shared-memory object under the
// name its program uses and read back through the Linux platform layer.
class TestSensorReaders : public QObject {
  Q_OBJECT

private slots:
  void readsPublishedLayouts_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<QVariant>("tempSensor");
    QTest::addColumn<QVariant>("voltSensor");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<double>("vcore");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    Bytes twoRecords = sysToolBytes({{"CPU", 2, 0, 40}, {"CPU", 2, 0, 50}});

    reading("SysTool names pick temperature and voltage", 1,
            sysToolBytes({{"CPU", 2, 0, 45.5}, {"VCore", 3, 0, 1.35}}), "CPU",
            "VCore", 45.5, 1.35);
    reading("SysTool two records of the same name: the later wins", 1,
            twoRecords, "CPU", {}, 50.0, START_V);
    reading("SysTool ignored record", 1, sysToolBytes({{"CPU", 2, 1, 99}}),
            "CPU", {}, START_T, START_V);
    reading("SysTool names compare with case", 1,
            sysToolBytes({{"CPU", 2, 0, 45}}), "cpu", {}, START_T, START_V);
    reading("SysTool kind is not consulted when reading", 1,
            sysToolBytes({{"CPU", 7, 0, 45}}), "CPU", {}, 45.0, START_V);
    reading("SysTool count far past the end", 1,
            sysToolBytes({{"CPU", 2, 0, 45}}, 65535), "CPU", {}, 45.0, START_V);
    reading("SysTool truncated record is not read", 1,
            truncated(twoRecords, 8 + 696 + 600), "CPU", {}, 40.0, START_V);
    reading("SysTool name without terminator ends at its area", 1,
            sysToolBytes({{"CPU", 2, 0, 45, false}}), "CPU" + QString(317, 'x'),
            {}, 45.0, START_V);
    reading("SysTool unterminated name is not the short name", 1,
            sysToolBytes({{"CPU", 2, 0, 45, false}}), "CPU", {}, START_T,
            START_V);
    reading("SysTool value that is not a number", 1,
            sysToolBytes({{"CPU", 2, 0, nan}}), "CPU", {}, START_T, START_V);
    reading("SysTool values no sensor measures are refused", 1,
            sysToolBytes({{"CPU", 2, 0, 1e308}, {"V", 3, 0, 20.01}}), "CPU",
            "V", START_T, START_V);
    reading("SysTool values below any sensor are refused", 1,
            sysToolBytes({{"CPU", 2, 0, -100.01}, {"V", 3, 0, -0.01}}), "CPU",
            "V", START_T, START_V);
    reading("SysTool physical extremes are kept", 1,
            sysToolBytes({{"CPU", 2, 0, 300}, {"V", 3, 0, 20}}), "CPU", "V",
            300.0, 20.0);
    reading("SysTool object shorter than its count", 1, Bytes(5, 0xFF), "CPU",
            {}, START_T, START_V);

    reading("SpeedFan indexes pick values in hundredths", 2,
            speedFanBytes({3000, 4550}, {120, 135}), 1, 1, 45.5, 1.35);
    reading("SpeedFan temperature of exactly 0.00 keeps the previous", 2,
            speedFanBytes({0}, {}), 0, 0, START_T, START_V);
    reading("SpeedFan NT 4 and index 4 reads nothing", 2,
            speedFanBytes({1, 2, 3, 4, 4500}, {}, 4), 4, 0, START_T, START_V);
    reading("SpeedFan limits 160 and 3.3 are rejected", 2,
            speedFanBytes({16000}, {330}), 0, 0, START_T, START_V);
    reading("SpeedFan limits -200 and 0.1 are rejected", 2,
            speedFanBytes({-20000}, {10}), 0, 0, START_T, START_V);
    reading("SpeedFan values just inside the limits", 2,
            speedFanBytes({-19999}, {329}), 0, 0, -199.99, 3.29);
    reading("SpeedFan negative index", 2, speedFanBytes({4500}, {130}), -1, -1,
            START_T, START_V);
    reading("SpeedFan count far past the end, last value that fits", 2,
            truncated(speedFanBytes({1, 2, 4200}, {}, 65535), 30), 2, {}, 42.0,
            START_V);
    reading("SpeedFan count far past the end, value cut by the end", 2,
            truncated(speedFanBytes({1, 2, 4200, 4300}, {}, 65535), 32), 3, {},
            START_T, START_V);

    const std::string everest =
        sensor("temp", "CPU", "47") + sensor("volt", "VCore", "1.32");
    reading("Everest labels pick values", 3, everestBytes(everest), "CPU",
            "VCore", 47.0, 1.32);
    reading("Everest TRIAL is no reading", 3,
            everestBytes(sensor("temp", "CPU", "TRIAL") +
                         sensor("volt", "V", "TRIAL")),
            "CPU", "V", NO_READING, NO_READING);
    reading("Everest value made of letters is 0", 3,
            everestBytes(sensor("temp", "CPU", "hot")), "CPU", {}, 0.0,
            START_V);
    reading(
        "Everest last matching element wins", 3,
        everestBytes(sensor("temp", "CPU", "40") + sensor("temp", "CPU", "41")),
        "CPU", {}, 41.0, START_V);
    reading("Everest labels are Latin-1", 3,
            everestBytes(sensor("temp", "Temp\xe9rature", "39")),
            QString::fromUtf8("Température"), {}, 39.0, START_V);
    reading(
        "Everest malformed text keeps the elements before the fault", 3,
        everestBytes(sensor("temp", "CPU", "44") + "<temp><label>X</value>"),
        "CPU", {}, 44.0, START_V);
    reading("Everest text failing at its start gives nothing", 3,
            everestBytes("<<<" + everest), "CPU", "VCore", START_T, START_V);
    reading("Everest text without NUL ends at the end of the object", 3,
            everestBytes(everest, false), "CPU", "VCore", 47.0, 1.32);
    reading("Everest text after the NUL is not read", 3, everestBytes(""),
            "after", {}, START_T, START_V);
    reading("Everest infinite value is refused", 3,
            everestBytes(sensor("temp", "CPU", "inf")), "CPU", {}, START_T,
            START_V);
    reading("Everest values no sensor measures are refused", 3,
            everestBytes(sensor("temp", "CPU", "1e308") +
                         sensor("volt", "V", "-1")),
            "CPU", "V", START_T, START_V);
    const std::string cpu44 = sensor("temp", "C<b>P</b>U", "44");
    std::string deep;
    for (int i = 0; i < 25000; ++i)
      deep += "<a>";
    reading("Everest nested 25000 levels: the sensor before is read", 3,
            everestBytes(cpu44 + deep), "CPU", {}, 44.0, START_V);
    const std::string longText = "<x>" + std::string(60000, 'y') + "</x>";
    reading("Everest sensor after 60000 characters is read", 3,
            everestBytes(longText + cpu44), "CPU", {}, 44.0, START_V);
    reading("Everest sensor after 70000 characters is not read", 3,
            everestBytes(longText + std::string(10000, ' ') + cpu44), "CPU", {},
            START_T, START_V);
    std::string elements;
    for (int i = 0; i < 4000; ++i)
      elements += "<x/>";
    reading("Everest sensor after 4000 elements is read", 3,
            everestBytes(elements + cpu44), "CPU", {}, 44.0, START_V);
    reading("Everest sensor after 5000 elements is not read", 3,
            everestBytes(elements + elements.substr(0, 4000) + cpu44), "CPU",
            {}, START_T, START_V);

    Bytes mbm = mbm5Bytes({{3, "CPU", 44.0},
                           {5, "Hot", 160.0},
                           {6, "Cold", -200.0},
                           {32, "V0", 1.2},
                           {47, "VCore", 1.4}});
    reading("MBM5 temperature slot and voltage index 15 reads slot 47", 4, mbm,
            3, 15, 44.0, 1.4);
    reading("MBM5 voltage index 16 reads nothing", 4, mbm, 32, 16, START_T,
            START_V);
    reading("MBM5 temperature 160.0 is rejected", 4, mbm, 5, {}, START_T, 1.2);
    reading("MBM5 temperature -200.0 is rejected", 4, mbm, 6, {}, START_T, 1.2);
    reading("MBM5 empty slot 255 is no reading", 4, mbm, 4, 1, START_T,
            START_V);
    reading("MBM5 voltage index at the largest integer reads nothing", 4, mbm,
            3, 2147483647, 44.0, START_V);
    reading("MBM5 truncated object: slot that fits", 4,
            truncated(mbm, 88 + 80 * 3 + 24), 3, 0, 44.0, START_V);
    reading("MBM5 truncated object: slot cut by the end", 4,
            truncated(mbm, 88 + 80 * 3 + 23), 3, 0, START_T, START_V);
  }

  void readsPublishedLayouts() {
    QFETCH(int, source);
    QFETCH(Bytes, bytes);
    QFETCH(QVariant, tempSensor);
    QFETCH(QVariant, voltSensor);
    QFETCH(double, temperature);
    QFETCH(double, vcore);

    SharedObject object(sharedMemoryName(source), bytes);
    double t = START_T, v = START_V;
    QVERIFY(readSharedMemorySource(source, tempSensor, voltSensor, &t, &v));
    QCOMPARE(t, temperature);
    QCOMPARE(v, vcore);
  }

  void unreachableAndEmptyObjects() {
    for (int source = 1; source <= 4; ++source) {
      double t = START_T, v = START_V;
      QVERIFY(!readSharedMemorySource(source, 0, 0, &t, &v));
      QVERIFY(!listSharedMemorySource(source).present);
      SharedObject empty(sharedMemoryName(source), {});
      QVERIFY(readSharedMemorySource(source, 0, 0, &t, &v));
      QCOMPARE(t, START_T);
      QCOMPARE(v, START_V);
      SensorList list = listSharedMemorySource(source);
      QVERIFY(list.present);
      QVERIFY(list.temperatures.isEmpty() && list.voltages.isEmpty());
    }
  }

  void listsSensorsWithValues_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<QStringList>("temperatures");
    QTest::addColumn<QStringList>("voltages");

    listing("SysTool kinds 2 and 3, ignored records left out", 1,
            sysToolBytes({{"CPU", 2, 0, 45.55},
                          {"Gone", 2, 1, 50},
                          {"VCore", 3, 0, 1.3456},
                          {"Fan", 4, 0, 2000}}),
            {"CPU|45.5 °C|0"}, {"VCore|1.35 V|2"});
    listing("SysTool values no sensor measures show as -", 1,
            sysToolBytes({{"CPU", 2, 0, 1e308}, {"V", 3, 0, -5}}), {"CPU|-|0"},
            {"V|-|1"});
    listing("SpeedFan values as text and datum", 2,
            speedFanBytes({4550, 3000}, {135}),
            {"45.5 °C|45.5 °C|0", "30.0 °C|30.0 °C|1"}, {"1.35 V|1.35 V|0"});
    listing("Everest TRIAL kept, letters shown as 0", 3,
            everestBytes(sensor("temp", "CPU", "TRIAL") +
                         sensor("temp", "Board", "warm") +
                         sensor("volt", "VCore", "1.3")),
            {"CPU|TRIAL|0", "Board|0.0 °C|1"}, {"VCore|1.30 V|0"});
    listing("MBM5 empty slots skipped, numbers are slots", 4,
            mbm5Bytes({{0, "CPU", 40}, {2, "Board", 35}, {33, "VCore", 1.4}}),
            {"CPU|40.0 °C|0", "Board|35.0 °C|2"}, {"VCore|1.40 V|1"});
    listing("MBM5 values no sensor measures show as -", 4,
            mbm5Bytes({{0, "CPU", 1e308}, {32, "V", 1e308}}), {"CPU|-|0"},
            {"V|-|0"});
    listing("MBM5 name without terminator ends before the value", 4,
            mbm5Bytes({{0, "ABCDEFGHIJKLMNO", 40}}),
            {"ABCDEFGHIJKLMNO|40.0 °C|0"}, {});
  }

  void listsSensorsWithValues() {
    QFETCH(int, source);
    QFETCH(Bytes, bytes);
    QFETCH(QStringList, temperatures);
    QFETCH(QStringList, voltages);

    SharedObject object(sharedMemoryName(source), bytes);
    SensorList list = listSharedMemorySource(source);
    QVERIFY(list.present);
    QCOMPARE(entries(list.temperatures), temperatures);
    QCOMPARE(entries(list.voltages), voltages);
  }
};

QTEST_GUILESS_MAIN(TestSensorReaders)
#include "tst_sensorreaders.moc"

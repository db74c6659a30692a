#include "Publisher.h"

#include "sensors/SensorReaders.h"
#include "sensors/SensorSources.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {

QByteArray qbytes(const Bytes &b) {
  return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

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

} // namespace

// Each layout is published as a real POSIX shared-memory object under the
// name its program uses and read back through the Linux platform layer.
class TestSensorReaders : public QObject {
  Q_OBJECT

private slots:
  void readsPublishedLayouts_data();
  void readsPublishedLayouts();
  void unreachableAndEmptyObjects();
  void listsSensorsWithValues_data();
  void listsSensorsWithValues();
};

void TestSensorReaders::readsPublishedLayouts_data() {
  QTest::addColumn<int>("source");
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QVariant>("tempSensor");
  QTest::addColumn<QVariant>("voltSensor");
  QTest::addColumn<double>("temperature");
  QTest::addColumn<double>("vcore");

  const double nan = std::numeric_limits<double>::quiet_NaN();
  Bytes twoRecords = sysToolBytes({{"CPU", 2, 0, 40}, {"CPU", 2, 0, 50}});

  QTest::newRow("SysTool names pick temperature and voltage")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, 45.5}, {"VCore", 3, 0, 1.35}}))
      << QVariant("CPU") << QVariant("VCore") << 45.5 << 1.35;
  QTest::newRow("SysTool two records of the same name: the later wins")
      << 1 << qbytes(twoRecords) << QVariant("CPU") << QVariant() << 50.0
      << START_V;
  QTest::newRow("SysTool ignored record")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 1, 99}})) << QVariant("CPU")
      << QVariant() << START_T << START_V;
  QTest::newRow("SysTool names compare with case")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, 45}})) << QVariant("cpu")
      << QVariant() << START_T << START_V;
  QTest::newRow("SysTool kind is not consulted when reading")
      << 1 << qbytes(sysToolBytes({{"CPU", 7, 0, 45}})) << QVariant("CPU")
      << QVariant() << 45.0 << START_V;
  QTest::newRow("SysTool count far past the end")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, 45}}, 65535))
      << QVariant("CPU") << QVariant() << 45.0 << START_V;
  QTest::newRow("SysTool truncated record is not read")
      << 1 << qbytes(truncated(twoRecords, 8 + 696 + 600)) << QVariant("CPU")
      << QVariant() << 40.0 << START_V;
  QTest::newRow("SysTool name without terminator ends at its area")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, 45, false}}))
      << QVariant("CPU" + QString(317, 'x')) << QVariant() << 45.0 << START_V;
  QTest::newRow("SysTool unterminated name is not the short name")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, 45, false}}))
      << QVariant("CPU") << QVariant() << START_T << START_V;
  QTest::newRow("SysTool value that is not a number")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, nan}})) << QVariant("CPU")
      << QVariant() << START_T << START_V;
  QTest::newRow("SysTool values no sensor measures are refused")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, 1e308}, {"V", 3, 0, 20.01}}))
      << QVariant("CPU") << QVariant("V") << START_T << START_V;
  QTest::newRow("SysTool values below any sensor are refused")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, -100.01}, {"V", 3, 0, -0.01}}))
      << QVariant("CPU") << QVariant("V") << START_T << START_V;
  QTest::newRow("SysTool physical extremes are kept")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, 300}, {"V", 3, 0, 20}}))
      << QVariant("CPU") << QVariant("V") << 300.0 << 20.0;
  QTest::newRow("SysTool object shorter than its count")
      << 1 << qbytes(Bytes(5, 0xFF)) << QVariant("CPU") << QVariant() << START_T
      << START_V;

  QTest::newRow("SpeedFan indexes pick values in hundredths")
      << 2 << qbytes(speedFanBytes({3000, 4550}, {120, 135})) << QVariant(1)
      << QVariant(1) << 45.5 << 1.35;
  QTest::newRow("SpeedFan temperature of exactly 0.00 keeps the previous")
      << 2 << qbytes(speedFanBytes({0}, {})) << QVariant(0) << QVariant(0)
      << START_T << START_V;
  QTest::newRow("SpeedFan NT 4 and index 4 reads nothing")
      << 2 << qbytes(speedFanBytes({1, 2, 3, 4, 4500}, {}, 4)) << QVariant(4)
      << QVariant(0) << START_T << START_V;
  QTest::newRow("SpeedFan limits 160 and 3.3 are rejected")
      << 2 << qbytes(speedFanBytes({16000}, {330})) << QVariant(0)
      << QVariant(0) << START_T << START_V;
  QTest::newRow("SpeedFan limits -200 and 0.1 are rejected")
      << 2 << qbytes(speedFanBytes({-20000}, {10})) << QVariant(0)
      << QVariant(0) << START_T << START_V;
  QTest::newRow("SpeedFan values just inside the limits")
      << 2 << qbytes(speedFanBytes({-19999}, {329})) << QVariant(0)
      << QVariant(0) << -199.99 << 3.29;
  QTest::newRow("SpeedFan negative index")
      << 2 << qbytes(speedFanBytes({4500}, {130})) << QVariant(-1)
      << QVariant(-1) << START_T << START_V;
  QTest::newRow("SpeedFan count far past the end, last value that fits")
      << 2 << qbytes(truncated(speedFanBytes({1, 2, 4200}, {}, 65535), 30))
      << QVariant(2) << QVariant() << 42.0 << START_V;
  QTest::newRow("SpeedFan count far past the end, value cut by the end")
      << 2
      << qbytes(truncated(speedFanBytes({1, 2, 4200, 4300}, {}, 65535), 32))
      << QVariant(3) << QVariant() << START_T << START_V;

  const std::string everest = "<temp><label>CPU</label><value>47</value></temp>"
                              "<volt><label>VCore</label><value>1.32</value>"
                              "</volt>";
  QTest::newRow("Everest labels pick values")
      << 3 << qbytes(everestBytes(everest)) << QVariant("CPU")
      << QVariant("VCore") << 47.0 << 1.32;
  QTest::newRow("Everest TRIAL is no reading")
      << 3
      << qbytes(everestBytes("<temp><label>CPU</label><value>TRIAL</value>"
                             "</temp><volt><label>V</label><value>TRIAL"
                             "</value></volt>"))
      << QVariant("CPU") << QVariant("V") << NO_READING << NO_READING;
  QTest::newRow("Everest value made of letters is 0")
      << 3
      << qbytes(everestBytes("<temp><label>CPU</label><value>hot</value>"
                             "</temp>"))
      << QVariant("CPU") << QVariant() << 0.0 << START_V;
  QTest::newRow("Everest last matching element wins")
      << 3
      << qbytes(
             everestBytes("<temp><label>CPU</label><value>40</value></temp>"
                          "<temp><label>CPU</label><value>41</value></temp>"))
      << QVariant("CPU") << QVariant() << 41.0 << START_V;
  QTest::newRow("Everest labels are Latin-1")
      << 3
      << qbytes(everestBytes("<temp><label>Temp\xe9rature</label><value>39"
                             "</value></temp>"))
      << QVariant(QString::fromUtf8("Température")) << QVariant() << 39.0
      << START_V;
  QTest::newRow("Everest malformed text keeps the elements before the fault")
      << 3
      << qbytes(everestBytes("<temp><label>CPU</label><value>44</value></temp>"
                             "<temp><label>X</value>"))
      << QVariant("CPU") << QVariant() << 44.0 << START_V;
  QTest::newRow("Everest text failing at its start gives nothing")
      << 3 << qbytes(everestBytes("<<<" + everest)) << QVariant("CPU")
      << QVariant("VCore") << START_T << START_V;
  QTest::newRow("Everest text without NUL ends at the end of the object")
      << 3 << qbytes(everestBytes(everest, false)) << QVariant("CPU")
      << QVariant("VCore") << 47.0 << 1.32;
  QTest::newRow("Everest text after the NUL is not read")
      << 3 << qbytes(everestBytes("")) << QVariant("after") << QVariant()
      << START_T << START_V;
  QTest::newRow("Everest infinite value is refused")
      << 3
      << qbytes(everestBytes("<temp><label>CPU</label><value>inf</value>"
                             "</temp>"))
      << QVariant("CPU") << QVariant() << START_T << START_V;
  QTest::newRow("Everest values no sensor measures are refused")
      << 3
      << qbytes(everestBytes("<temp><label>CPU</label><value>1e308</value>"
                             "</temp><volt><label>V</label><value>-1</value>"
                             "</volt>"))
      << QVariant("CPU") << QVariant("V") << START_T << START_V;
  const std::string cpu44 = "<temp><label>C<b>P</b>U</label><value>44</value>"
                            "</temp>";
  std::string deep;
  for (int i = 0; i < 25000; ++i)
    deep += "<a>";
  QTest::newRow("Everest nested 25000 levels: the sensor before is read")
      << 3 << qbytes(everestBytes(cpu44 + deep)) << QVariant("CPU")
      << QVariant() << 44.0 << START_V;
  const std::string longText = "<x>" + std::string(60000, 'y') + "</x>";
  QTest::newRow("Everest sensor after 60000 characters is read")
      << 3 << qbytes(everestBytes(longText + cpu44)) << QVariant("CPU")
      << QVariant() << 44.0 << START_V;
  QTest::newRow("Everest sensor after 70000 characters is not read")
      << 3 << qbytes(everestBytes(longText + std::string(10000, ' ') + cpu44))
      << QVariant("CPU") << QVariant() << START_T << START_V;
  std::string elements;
  for (int i = 0; i < 4000; ++i)
    elements += "<x/>";
  QTest::newRow("Everest sensor after 4000 elements is read")
      << 3 << qbytes(everestBytes(elements + cpu44)) << QVariant("CPU")
      << QVariant() << 44.0 << START_V;
  QTest::newRow("Everest sensor after 5000 elements is not read")
      << 3 << qbytes(everestBytes(elements + elements.substr(0, 4000) + cpu44))
      << QVariant("CPU") << QVariant() << START_T << START_V;

  Bytes mbm = mbm5Bytes({{3, "CPU", 44.0},
                         {5, "Hot", 160.0},
                         {6, "Cold", -200.0},
                         {32, "V0", 1.2},
                         {47, "VCore", 1.4}});
  QTest::newRow("MBM5 temperature slot and voltage index 15 reads slot 47")
      << 4 << qbytes(mbm) << QVariant(3) << QVariant(15) << 44.0 << 1.4;
  QTest::newRow("MBM5 voltage index 16 reads nothing")
      << 4 << qbytes(mbm) << QVariant(32) << QVariant(16) << START_T << START_V;
  QTest::newRow("MBM5 temperature 160.0 is rejected")
      << 4 << qbytes(mbm) << QVariant(5) << QVariant() << START_T << 1.2;
  QTest::newRow("MBM5 temperature -200.0 is rejected")
      << 4 << qbytes(mbm) << QVariant(6) << QVariant() << START_T << 1.2;
  QTest::newRow("MBM5 empty slot 255 is no reading")
      << 4 << qbytes(mbm) << QVariant(4) << QVariant(1) << START_T << START_V;
  QTest::newRow("MBM5 voltage index at the largest integer reads nothing")
      << 4 << qbytes(mbm) << QVariant(3) << QVariant(2147483647) << 44.0
      << START_V;
  QTest::newRow("MBM5 truncated object: slot that fits")
      << 4 << qbytes(truncated(mbm, 88 + 80 * 3 + 24)) << QVariant(3)
      << QVariant(0) << 44.0 << START_V;
  QTest::newRow("MBM5 truncated object: slot cut by the end")
      << 4 << qbytes(truncated(mbm, 88 + 80 * 3 + 23)) << QVariant(3)
      << QVariant(0) << START_T << START_V;
}

void TestSensorReaders::readsPublishedLayouts() {
  QFETCH(int, source);
  QFETCH(QByteArray, bytes);
  QFETCH(QVariant, tempSensor);
  QFETCH(QVariant, voltSensor);
  QFETCH(double, temperature);
  QFETCH(double, vcore);

  SharedObject object(sharedMemoryName(source),
                      Bytes(bytes.begin(), bytes.end()));
  double t = START_T, v = START_V;
  QVERIFY(readSharedMemorySource(source, tempSensor, voltSensor, &t, &v));
  QCOMPARE(t, temperature);
  QCOMPARE(v, vcore);
}

void TestSensorReaders::unreachableAndEmptyObjects() {
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

void TestSensorReaders::listsSensorsWithValues_data() {
  QTest::addColumn<int>("source");
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QStringList>("temperatures");
  QTest::addColumn<QStringList>("voltages");

  QTest::newRow("SysTool kinds 2 and 3, ignored records left out")
      << 1
      << qbytes(sysToolBytes({{"CPU", 2, 0, 45.55},
                              {"Gone", 2, 1, 50},
                              {"VCore", 3, 0, 1.3456},
                              {"Fan", 4, 0, 2000}}))
      << QStringList{"CPU|45.5 °C|0"} << QStringList{"VCore|1.35 V|2"};
  QTest::newRow("SysTool values no sensor measures show as -")
      << 1 << qbytes(sysToolBytes({{"CPU", 2, 0, 1e308}, {"V", 3, 0, -5}}))
      << QStringList{"CPU|-|0"} << QStringList{"V|-|1"};
  QTest::newRow("SpeedFan values as text and datum")
      << 2 << qbytes(speedFanBytes({4550, 3000}, {135}))
      << QStringList{"45.5 °C|45.5 °C|0", "30.0 °C|30.0 °C|1"}
      << QStringList{"1.35 V|1.35 V|0"};
  QTest::newRow("Everest TRIAL kept, letters shown as 0")
      << 3
      << qbytes(everestBytes("<temp><label>CPU</label><value>TRIAL</value>"
                             "</temp><temp><label>Board</label><value>warm"
                             "</value></temp><volt><label>VCore</label>"
                             "<value>1.3</value></volt>"))
      << QStringList{"CPU|TRIAL|0", "Board|0.0 °C|1"}
      << QStringList{"VCore|1.30 V|0"};
  QTest::newRow("MBM5 empty slots skipped, numbers are slots")
      << 4
      << qbytes(
             mbm5Bytes({{0, "CPU", 40}, {2, "Board", 35}, {33, "VCore", 1.4}}))
      << QStringList{"CPU|40.0 °C|0", "Board|35.0 °C|2"}
      << QStringList{"VCore|1.40 V|1"};
  QTest::newRow("MBM5 values no sensor measures show as -")
      << 4 << qbytes(mbm5Bytes({{0, "CPU", 1e308}, {32, "V", 1e308}}))
      << QStringList{"CPU|-|0"} << QStringList{"V|-|0"};
  QTest::newRow("MBM5 name without terminator ends before the value")
      << 4 << qbytes(mbm5Bytes({{0, "ABCDEFGHIJKLMNO", 40}}))
      << QStringList{"ABCDEFGHIJKLMNO|40.0 °C|0"} << QStringList{};
}

void TestSensorReaders::listsSensorsWithValues() {
  QFETCH(int, source);
  QFETCH(QByteArray, bytes);
  QFETCH(QStringList, temperatures);
  QFETCH(QStringList, voltages);

  SharedObject object(sharedMemoryName(source),
                      Bytes(bytes.begin(), bytes.end()));
  SensorList list = listSharedMemorySource(source);
  QVERIFY(list.present);
  QCOMPARE(entries(list.temperatures), temperatures);
  QCOMPARE(entries(list.voltages), voltages);
}

QTEST_GUILESS_MAIN(TestSensorReaders)
#include "tst_sensorreaders.moc"

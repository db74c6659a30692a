#include "sensors/SharedLayouts.h"

#include "sensors/SensorSources.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <cstring>

bool ByteSpan::read(size_t offset, void *out, size_t length) const {
  if (offset > size || length > size - offset)
    return false;
  if (length) // an empty span may have no data to copy from
    std::memcpy(out, data + offset, length);
  return true;
}

namespace {

constexpr size_t SYSTOOL_FIRST_RECORD = 8;
constexpr size_t SYSTOOL_RECORD_SIZE = 696;
constexpr size_t SYSTOOL_NAME_AREA = 640;
constexpr size_t SYSTOOL_KIND = 640;
constexpr size_t SYSTOOL_STATE = 644;
constexpr size_t SYSTOOL_VALUE = 664;
constexpr size_t SYSTOOL_RECORD_USED = SYSTOOL_VALUE + sizeof(double);

constexpr size_t SPEEDFAN_TEMPERATURES = 18;
constexpr size_t SPEEDFAN_VOLTAGES = 274;

constexpr size_t MBM5_FIRST_SLOT = 88;
constexpr size_t MBM5_SLOT_SIZE = 80;
constexpr size_t MBM5_NAME = 1;
constexpr size_t MBM5_VALUE = 16;

// 8-bit text from offset up to its NUL, the end of its area or the end of
// the bytes, whichever comes first.
QString latin1Text(ByteSpan bytes, size_t offset, size_t area) {
  if (offset >= bytes.size)
    return QString();
  size_t limit = std::min(area, bytes.size - offset);
  const char *text = reinterpret_cast<const char *>(bytes.data + offset);
  const void *nul = std::memchr(text, 0, limit);
  size_t length = nul ? static_cast<const char *>(nul) - text : limit;
  return QString::fromLatin1(text, int(length));
}

QString utf16Text(ByteSpan bytes, size_t offset, size_t area) {
  QString text;
  for (size_t at = offset; at + 2 <= offset + area; at += 2) {
    uint16_t unit = 0;
    if (!bytes.get(at, &unit) || unit == 0)
      break;
    text.append(QChar(unit));
  }
  return text;
}

QVector<double> speedFanArray(ByteSpan bytes, size_t first, uint16_t count) {
  QVector<double> values;
  for (size_t i = 0; i < count; ++i) {
    int32_t hundredths = 0;
    if (!bytes.get(first + 4 * i, &hundredths))
      break;
    values.append(hundredths / 100.0);
  }
  return values;
}

// The publisher's text is a few kilobytes with three levels of elements.
// Anything beyond these bounds is not read, so that whatever is published,
// one reading stays within a few milliseconds and a few megabytes and no
// nesting can exhaust the stack.
constexpr size_t EVEREST_MAX_TEXT = 64 * 1024;
constexpr int EVEREST_MAX_DEPTH = 8; // the wrapping root is level 1
constexpr int EVEREST_MAX_ELEMENTS = 4096;

// Gathers the root's "temp" and "volt" children with the text of their
// first "label" and first "value" children, as a document tree would give
// them (text of every descendant, whitespace-only text left out).
class EverestGatherer {
public:
  void start(const QStringRef &name) {
    ++depth;
    if (depth == 2) {
      list = name == QLatin1String("temp")   ? &sensors.temperatures
             : name == QLatin1String("volt") ? &sensors.voltages
                                             : nullptr;
      sensor = {};
      haveLabel = haveValue = false;
    } else if (depth == 3 && list) {
      if (name == QLatin1String("label") && !haveLabel)
        field = &sensor.label, haveLabel = true;
      else if (name == QLatin1String("value") && !haveValue)
        field = &sensor.value, haveValue = true;
    }
  }
  void text(const QStringRef &characters) {
    if (field)
      field->append(characters);
  }
  void end() {
    if (depth == 3)
      field = nullptr;
    if (depth == 2)
      finishSensor();
    --depth;
  }
  // An element cut by a fault in the text keeps what it had, as a document
  // tree built up to the fault would.
  EverestSensors finish() {
    finishSensor();
    return sensors;
  }
  int depth = 0;

private:
  void finishSensor() {
    if (list)
      list->append(sensor);
    list = nullptr;
    field = nullptr;
  }
  EverestSensors sensors;
  QVector<EverestSensor> *list = nullptr;
  EverestSensor sensor;
  QString *field = nullptr;
  bool haveLabel = false, haveValue = false;
};

} // namespace

QVector<SysToolRecord> parseSysTool(ByteSpan bytes) {
  QVector<SysToolRecord> records;
  uint16_t count = 0;
  if (!bytes.get(4, &count))
    return records;
  for (size_t i = 0; i < count; ++i) {
    size_t at = SYSTOOL_FIRST_RECORD + SYSTOOL_RECORD_SIZE * i;
    if (at > bytes.size || bytes.size - at < SYSTOOL_RECORD_USED)
      break;
    SysToolRecord r;
    r.name = utf16Text(bytes, at, SYSTOOL_NAME_AREA);
    bytes.get(at + SYSTOOL_KIND, &r.kind);
    bytes.get(at + SYSTOOL_STATE, &r.state);
    bytes.get(at + SYSTOOL_VALUE, &r.value);
    records.append(r);
  }
  return records;
}

SpeedFanValues parseSpeedFan(ByteSpan bytes) {
  uint16_t temperatures = 0, voltages = 0;
  if (!bytes.get(12, &temperatures) || !bytes.get(16, &voltages))
    return {};
  return {speedFanArray(bytes, SPEEDFAN_TEMPERATURES, temperatures),
          speedFanArray(bytes, SPEEDFAN_VOLTAGES, voltages)};
}

EverestSensors parseEverest(ByteSpan bytes) {
  QString text = latin1Text(bytes, 0, std::min(bytes.size, EVEREST_MAX_TEXT));
  // A malformed text is not reported: the elements parsed before the fault
  // are used, none when it fails at its start. Too deep a nesting or too many
  // elements count as a fault.
  QXmlStreamReader xml("<Everest>" + text + "</Everest>");
  EverestGatherer gatherer;
  int elements = 0;
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
    case QXmlStreamReader::StartElement:
      if (gatherer.depth == EVEREST_MAX_DEPTH ||
          ++elements > EVEREST_MAX_ELEMENTS)
        return gatherer.finish();
      gatherer.start(xml.name());
      break;
    case QXmlStreamReader::Characters:
      if (xml.isCDATA() || !xml.isWhitespace())
        gatherer.text(xml.text());
      break;
    case QXmlStreamReader::EndElement:
      gatherer.end();
      break;
    default:
      break;
    }
  }
  return gatherer.finish();
}

QVector<Mbm5Slot> parseMbm5(ByteSpan bytes) {
  QVector<Mbm5Slot> result;
  for (size_t k = 0; k < MBM5_TEMPERATURE_SLOTS + MBM5_VOLTAGE_SLOTS; ++k) {
    size_t at = MBM5_FIRST_SLOT + MBM5_SLOT_SIZE * k;
    Mbm5Slot slot;
    if (!bytes.get(at + MBM5_VALUE, &slot.value))
      break;
    slot.name = latin1Text(bytes, at + MBM5_NAME, MBM5_VALUE - MBM5_NAME);
    result.append(slot);
  }
  return result;
}

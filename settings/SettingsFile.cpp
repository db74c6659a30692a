#include "settings/SettingsFile.h"

#include "settings/SettingsKeys.h"

std::unique_ptr<QSettings> openSettings() {
  auto settings =
      std::make_unique<QSettings>(SETTINGS_FILE, QSettings::IniFormat);
  settings->setIniCodec("UTF-8");
  return settings;
}

bool readBool(const QSettings &settings, const QString &key, bool fallback) {
  if (!settings.contains(key))
    return fallback;
  const QString text = settings.value(key).toString().trimmed();
  if (text.compare("true", Qt::CaseInsensitive) == 0)
    return true;
  bool isInteger = false;
  const qlonglong number = text.toLongLong(&isInteger);
  return isInteger && number != 0;
}

int readInt(const QSettings &settings, const QString &key, int fallback) {
  // Through the text: a QVariant holding a text converts a number beyond int
  // by truncating it, and calls that a success.
  bool isInteger = false;
  const int value =
      settings.value(key, fallback).toString().trimmed().toInt(&isInteger);
  return isInteger ? value : fallback;
}

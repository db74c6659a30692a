#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// Vorsk.ini in the working directory, INI format, read and written as UTF-8
// (a hand-edited file is UTF-8). Every reader and writer opens its own here,
// briefly.
std::unique_ptr<QSettings> openSettings();

// A yes/no key: "true" or "false" in any case, or an integer, non-zero being
// true; any other text is false. A missing key gives the default.
bool readBool(const QSettings &settings, const QString &key, bool fallback);
// An integer key; a missing key or a value that is no integer gives the
// default.
int readInt(const QSettings &settings, const QString &key, int fallback);

#pragma once

#include "app/DesktopNotice.h"

#include <QDBusConnection>

// Hands end-of-run notices to the desktop's notification server on the
// session bus, which shows them whatever the window's state and whether or
// not a tray exists.
class NotificationSender {
public:
  // The application's name for the server and its desktop entry's name
  // without ".desktop", which also names its icon.
  NotificationSender(const QString &appName, const QString &desktopEntry,
                     const QDBusConnection &bus);

  // False, with nothing sent, when no server runs on the bus or can be
  // started by it: the notice has to be shown another way, at once.
  bool send(const DesktopNotice &notice);

private:
  QString AppName;
  QString DesktopEntry;
  QDBusConnection Bus;
};

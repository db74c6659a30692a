#include "app/DesktopNotice.h"

#include "app/NotificationSender.h"

#include <QSystemTrayIcon>

namespace {
DesktopNotifier &currentNotifier() {
  static DesktopNotifier notifier;
  return notifier;
}
} // namespace

void notifyDesktop(QSystemTrayIcon *tray, const DesktopNotice &notice) {
  if (currentNotifier()) {
    currentNotifier()(notice);
    return;
  }
  NotificationSender server("Vorsk", VORSK_APP_ID,
                            QDBusConnection::sessionBus());
  if (server.send(notice) || !tray)
    return;
  tray->showMessage(notice.title, notice.message,
                    notice.failure ? QSystemTrayIcon::Warning
                                   : QSystemTrayIcon::Information);
}

DesktopNotifier setDesktopNotifier(DesktopNotifier notifier) {
  DesktopNotifier previous = std::move(currentNotifier());
  currentNotifier() = std::move(notifier);
  return previous;
}

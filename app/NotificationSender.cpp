#include "app/NotificationSender.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace {
const char Service[] = "org.freedesktop.Notifications";
// The urgency levels of the desktop notification protocol.
const uchar UrgencyNormal = 1;
const uchar UrgencyCritical = 2;
// The server's own display time.
const int ServerTimeout = -1;

// Asked of the bus daemon itself, which answers at once; a server may be
// started by the bus on the first call.
bool serverOnBus(const QDBusConnection &bus) {
  if (!bus.isConnected())
    return false;
  const QDBusConnectionInterface *daemon = bus.interface();
  return daemon->isServiceRegistered(Service).value() ||
         daemon->activatableServiceNames().value().contains(Service);
}
} // namespace

NotificationSender::NotificationSender(const QString &appName,
                                       const QString &desktopEntry,
                                       const QDBusConnection &bus)
    : AppName(appName), DesktopEntry(desktopEntry), Bus(bus) {}

bool NotificationSender::send(const DesktopNotice &notice) {
  if (!serverOnBus(Bus))
    return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      Service, "/org/freedesktop/Notifications", Service, "Notify");
  // The urgency must go as a byte: servers ignore any other type.
  const QVariantMap hints{
      {"urgency", QVariant::fromValue<uchar>(notice.failure ? UrgencyCritical
                                                            : UrgencyNormal)},
      {"desktop-entry", DesktopEntry}};
  call << AppName << uint(0) << DesktopEntry << notice.title << notice.message
       << QStringList() << hints << ServerTimeout;
  // Its reply is not awaited: the end of a run must not hang on a slow
  // server.
  return Bus.send(call);
}

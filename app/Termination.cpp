#include "app/Termination.h"

#include "platform/Platform.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

void closeOnTerminationRequest(QApplication &app, QWidget &window) {
  // A window hidden in the tray closes without the last-window signal:
  // quit explicitly.
  auto closeAndQuit = [&app, &window] {
    window.close();
    app.quit();
  };
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                   closeAndQuit);
  const int requests = platform().terminationRequests();
  if (requests < 0)
    return;
  auto *notifier =
      new QSocketNotifier(requests, QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window,
                   [notifier, closeAndQuit] {
                     notifier->setEnabled(false);
                     closeAndQuit();
                   });
}

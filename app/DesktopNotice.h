#pragma once

#include <QString>

#include <functional>

class QSystemTrayIcon;

// A message to the user at the end of a run, for when they are away from
// the window.
struct DesktopNotice {
  QString title;
  QString message;
  bool failure;
};

// Sends the notice to the desktop's notification server on the session bus.
// Where none runs it becomes the tray icon's balloon, which Qt shows only
// while the icon is visible (the window minimised to the tray); tray is null
// where the desktop has none.
void notifyDesktop(QSystemTrayIcon *tray, const DesktopNotice &notice);

// Replaces the notifier (tests record instead of showing); an empty function
// restores the real one. Returns the previous notifier.
using DesktopNotifier = std::function<void(const DesktopNotice &notice)>;
DesktopNotifier setDesktopNotifier(DesktopNotifier notifier);

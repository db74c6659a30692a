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

// Shows the notice through the tray icon, which hands it to the desktop's
// notification service where one runs. Qt shows it only while the icon is
// visible (the window minimised to the tray); without a tray nothing
// happens.
void notifyDesktop(QSystemTrayIcon &tray, const DesktopNotice &notice);

// Replaces the notifier (tests record instead of showing); an empty function
// restores the real one. Returns the previous notifier.
using DesktopNotifier = std::function<void(const DesktopNotice &notice)>;
DesktopNotifier setDesktopNotifier(DesktopNotifier notifier);

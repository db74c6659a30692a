#include "app/Fonts.h"
#include "app/Headless.h"
#include "app/HeadlessOptions.h"
#include "app/SingleInstance.h"
#include "app/Termination.h"
#include "app/ToolkitFrench.h"
#include "app/Vorsk.h"
#include "resources/Display.h"
#include "settings/DataFolder.h"

#include <QApplication>
#include <QDir>
#include <QSystemTrayIcon>
#include <QTextStream>

int main(int argc, char *argv[]) {
  // Before any QApplication: the command line needs no display.
  if (wantsCommandLine(argc, argv))
    return runCommandLine(argc, argv);
  // The images live in the static core library; keep them linked in.
  Q_INIT_RESOURCE(resources);
  enableHighDpiScaling();
  auto *app = new QApplication(argc, argv);
  // Names the user data folder (~/.local/share/vorsk) and the desktop entry.
  QApplication::setApplicationName("vorsk");
  QGuiApplication::setDesktopFileName(VORSK_APP_ID);
  enterDataFolder();
  addApplicationFonts();
  installToolkitFrench(*app);
  // The settings and the log live in the working folder: one instance each.
  auto *instance =
      new SingleInstance(QDir::currentPath(), SingleInstance::Holder::Window);
  if (!instance->claim()) {
    QTextStream(stderr) << alreadyRunningLine(instance->contactRunning())
                        << '\n';
    delete instance;
    delete app;
    return 0;
  }
  auto *window = new Vorsk(QSystemTrayIcon::isSystemTrayAvailable());
  window->show();
  QObject::connect(instance, &SingleInstance::showRequested, window, [window] {
    window->showNormal();
    window->raise();
    window->activateWindow();
  });
  closeOnTerminationRequest(*app, *window);
  QObject::connect(app, &QApplication::lastWindowClosed, app,
                   &QApplication::quit);
  const int result = app->exec();
  delete window;
  delete instance;
  delete app;
  return result;
}

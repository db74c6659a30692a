#include "app/Vorsk.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>
#include <QSystemTrayIcon>

namespace {
// The form is laid out for Tahoma; Debian ships a metric-compatible one with
// Wine's fonts, outside the fontconfig path. Without it the default sans font
// stands in.
void addTahoma() {
  QFontDatabase::addApplicationFont("/usr/share/wine/fonts/tahoma.ttf");
  QFontDatabase::addApplicationFont("/usr/share/wine/fonts/tahomabd.ttf");
}
} // namespace

int main(int argc, char *argv[]) {
  // The images live in the static core library; keep them linked in.
  Q_INIT_RESOURCE(resources);
  auto *app = new QApplication(argc, argv);
  addTahoma();
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    QMessageBox::critical(nullptr, "Systray",
                          "Le System Tray est indisponible.", QMessageBox::Ok);
    delete app;
    return 1;
  }
  auto *window = new Vorsk;
  window->show();
  QObject::connect(app, &QApplication::lastWindowClosed, app,
                   &QApplication::quit);
  const int result = app->exec();
  delete window;
  delete app;
  return result;
}

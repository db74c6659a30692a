#include "app/Fonts.h"
#include "app/Vorsk.h"

#include <QApplication>
#include <QMessageBox>
#include <QSystemTrayIcon>

int main(int argc, char *argv[]) {
  // The images live in the static core library; keep them linked in.
  Q_INIT_RESOURCE(resources);
  auto *app = new QApplication(argc, argv);
  addApplicationFonts();
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

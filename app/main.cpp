#include "app/Vorsk.h"

#include <QApplication>
#include <QMessageBox>
#include <QSystemTrayIcon>

int main(int argc, char *argv[]) {
  auto *app = new QApplication(argc, argv);
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

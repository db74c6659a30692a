#include "app/ToolkitFrench.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool installToolkitFrench(QCoreApplication &app) {
  auto *translator = new QTranslator(&app);
  // qt_fr gathers the catalogues of every Qt module, qtbase_fr among them.
  if (!translator->load(
          "qt_fr", QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return app.installTranslator(translator);
}

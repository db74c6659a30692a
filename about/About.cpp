#include "about/About.h"

#include "about/BugReport.h"
#include "about/MakerConfig.h"
#include "resources/Display.h"
#include "resources/TextRoom.h"

#include <QDir>
#include <QPixmap>

About::About(QString diagnostic, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Diagnostic(std::move(diagnostic)) {
  ui.setupUi(this);
  keepButtonTextsInRoom(this);
  ui.labelIcon->setPixmap(sharpPixmap(":/Images/icon.png"));
  ui.labelTitle->setText("Vorsk 1.0.4");
  ui.labelAbout->setText(ui.labelAbout->text().arg(
      BuiltInReportRoute().mailbox.toHtmlEscaped(),
      MakerHomePage().toHtmlEscaped(), qVersion(),
      // Where Vorsk.ini and the logs are: the working folder.
      QDir::toNativeSeparators(QDir::currentPath()).toHtmlEscaped()));
  ui.labelAbout->setOpenExternalLinks(true);
}

void About::on_pushBugReport_clicked() {
  BugReport report(Diagnostic, this);
  report.exec();
}

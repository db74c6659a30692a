#include "about/BugReport.h"

#include "about/Smtp.h"
#include "resources/TextRoom.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QMessageBox>

BugReport::BugReport(QString diagnostic, QWidget *parent, ReportRoute route)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Diagnostic(std::move(diagnostic)), Route(std::move(route)) {
  ui.setupUi(this);
  keepButtonTextsInRoom(this);
  {
    const auto settings = openSettings();
    Pseudo = settings->value(Key::Pseudo, DEFAULT_PSEUDO).toString();
    SmtpServer = settings->value(Key::Smtp, "").toString();
  }
  ui.pseudoEdit->setText(Pseudo);
  ui.smtpEdit->setText(SmtpServer);
  // The first attempt goes through the built-in relay without asking.
  if (SmtpServer.isEmpty()) {
    ui.labelSMTP->setEnabled(false);
    ui.smtpEdit->setEnabled(false);
  }
}

void BugReport::on_closeButton_clicked() { reject(); }

void BugReport::on_sendButton_clicked() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  Pseudo = ui.pseudoEdit->text();
  Description = ui.textEdit->toPlainText();
  SmtpServer = ui.smtpEdit->text();

  const QString body = "Vorsk 1.0.4" + QString::fromUtf8("\nEnvoyé par ") +
                       Pseudo + "\n\n" + Description + "\n\n" + Diagnostic;
  bool sent;
  {
    Smtp smtp(Route.sender, Route.mailbox, "Rapport de bug", body);
    smtp.SetSmtpServer(SmtpServer.isEmpty() ? Route.relay : SmtpServer,
                       Route.port);
    sent = smtp.SendMail() && smtp.GetState() == Smtp::Sent;
    QApplication::restoreOverrideCursor();
  }

  if (!sent) {
    ui.labelSMTP->setEnabled(true);
    ui.smtpEdit->setEnabled(true);
    ui.smtpEdit->clear();
    ui.smtpEdit->setFocus();
    QMessageBox::warning(
        this, tr("Vorsk 1.0.4"),
        tr("L'envoie du rapport de bug a échoué !\nVeuillez saisir l'adresse "
           "de votre serveur SMTP et cliquez sur 'Envoyer'."),
        QMessageBox::Ok);
    return;
  }

  {
    const auto settings = openSettings();
    settings->setValue(Key::Pseudo, Pseudo);
    settings->setValue(Key::Smtp, SmtpServer);
    settings->sync();
  }
  QMessageBox::information(this, tr("Vorsk 1.0.4"),
                           tr("Rapport de bug envoyé avec succès."),
                           QMessageBox::Ok);
  accept();
}

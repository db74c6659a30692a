#pragma once

#include "about/MakerConfig.h"
#include "ui_BugReport.h"

#include <QDialog>
#include <QString>

// Sends the user's description of a problem, with the diagnostic text, to
// the maker's mailbox. Sending blocks the user-interface thread.
class BugReport : public QDialog {
  Q_OBJECT

public:
  BugReport(QString diagnostic, QWidget *parent,
            ReportRoute route = BuiltInReportRoute());

private slots:
  void on_closeButton_clicked();
  void on_sendButton_clicked();

private:
  Ui_BugReportClass ui;
  QString Diagnostic;
  QString Pseudo;
  QString Description;
  QString SmtpServer;
  ReportRoute Route;
};

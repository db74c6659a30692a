#pragma once

#include "ui_About.h"

#include <QDialog>
#include <QString>

// The program's presentation, and the way to the bug report dialog, which
// receives the diagnostic text unchanged.
class About : public QDialog {
  Q_OBJECT

public:
  About(QString diagnostic, QWidget *parent);

private slots:
  void on_pushBugReport_clicked();

private:
  Ui_AboutClass ui;
  QString Diagnostic;
};

#pragma once

#include "ui_Options.h"

#include "stress/TestModes.h"

#include <QDialog>
#include <QString>
#include <QVariant>

#include <functional>

// The modal options dialog. It loads its state from the settings file,
// restyles the main window live while open, and on closing either saves
// everything (the caller then reads the public values) or restores the
// stored look.
class Options : public QDialog {
  Q_OBJECT

public:
  // Restyles the main window, live while a style is tried.
  using Restyle = std::function<void(const QString &style, bool palette)>;

  Options(QWidget *parent, Restyle restyle);

  bool ExportTXT;
  bool Shutdown;
  int MaxTemp;
  int Monitoring;
  QVariant TempSensor;
  QVariant VoltSensor;
  QString SuccesSound;
  QString FailedSound;
  TestMode Mode;

private slots:
  void on_comboMode_currentIndexChanged(int index);
  void on_pushOk_clicked();
  void on_comboVcore_currentIndexChanged(int index);
  void on_comboTCPU_currentIndexChanged(int index);
  void on_comboMonitoring_currentIndexChanged(int index);
  void on_pushFail_clicked();
  void on_pushSucces_clicked();
  void on_checkPalette_stateChanged(int);
  void on_comboStyle_activated(QString string);

public slots:
  void done(int r) override;

private:
  void applyStyle(const QString &style, bool palette);
  void setLimitControlsEnabled(bool enabled);
  void preselectSensors(int source);
  void storeSensorChoice();

  Restyle RestyleWindow;
  Ui_OptionsClass ui;
};

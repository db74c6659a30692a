#pragma once

#include "ui_Vorsk.h"

#include "platform/CpuSet.h"
#include "sensors/SensorMonitor.h"
#include "stress/ErrorWatch.h"
#include "stress/RunJournal.h"

#include <QPalette>
#include <QPoint>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTime>
#include <QVariant>
#include <QWidget>

#include <cstdint>

class QSettings;

class QAction;
class QMenu;

// The sensor members (Temperature, Vcore, their statistics, SampleCount and
// Samples) come from SensorMonitor.
class Vorsk : public QWidget, public SensorMonitor {
  Q_OBJECT

public:
  explicit Vorsk(QWidget *parent = nullptr);

  bool StartTest();
  // True when the run's average usage was plausible.
  bool StopTest();
  // Ends a run on a failure: StopTest, the lines, colour, tool tip, the
  // window restored, the failure sound and the shutdown rule. The sensor tick
  // uses it when the temperature limit is reached.
  void EndRunOnFailure(const QStringList &lines, const char *colour,
                       const QString &toolTip);

  // Applies a look to the application and this window; palette true takes
  // the style's own colours, false the palette saved at construction.
  void ChangeStyle(QString style, bool palette);

private slots:
  void on_pushAbout_clicked();
  void on_pushOptions_clicked();
  void on_comboDuration_activated(int index);
  void on_comboPriority_activated(int index);
  void on_pushTest_clicked();
  void on_pushQuit_clicked();
  void ShowAbout();
  void ShowOptions();
  void iconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
  void timerEvent(QTimerEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void hideEvent(QHideEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  friend class VorskTest;
  friend class VorskSensorsTest;
  friend class HwmonTest;
  friend class RunControlTest;
  friend class RealRunTest;
  friend class WindowEventsTest;
  friend class OptionsTest;
  friend class StylesTest;

  // One sensor reading, shown in the labels and, during a run, counted.
  int GetSensorsValue();
  // The sensor tick: true when a running test must end because the
  // temperature reached MaxTemp.
  bool SensorTick();
  // The sensor part of ending a run, inside StopTest: summary lines, the
  // monitoring log's last samples, and the reset.
  void SensorRunEnded();
  SensorChoice CurrentSensorChoice() const;
  // The first start (no Monitoring key): the processor's lm-sensors
  // temperature when the machine has one, stored, so that the temperature
  // limit can protect a new user.
  void ChooseFirstSensor(QSettings &settings);

  void CreateActions();
  void CreateTrayIcon();
  void AppendLog(const QString &line);
  // The 52-underscore line that starts each run after the first.
  void AppendSeparator();
  void SetLogColour(const char *colour);
  void ReportFailure(const QStringList &lines, const char *colour,
                     const QString &toolTip);
  // The desktop notice of a run's end, titled with its last line: on a
  // failure the processor and the line before, otherwise the test time.
  void NotifyEnd(const QStringList &lines, bool failure);
  void PlaySuccessSound();
  void PlayFailureSound();
  void ReportHardwareErrors();
  void CleanUpTick();
  void ReportLateCalculationErrors();
  void CloseWorkerHandles();
  void RunTick();
  void WorkerEnded(int worker, uint32_t code);
  int WorkerSignal(int worker);
  void ScheduledEnd();
  void ApplyShutdownRule();
  void StopWorkers();
  void ShowInterruptedRun();
  bool WriteEventLog();

  // Machine identification and frequency samples (sysinfo/).
  int CpuCount();
  int CheckInstructions();
  void SetCorrectBrandString(char *name);
  int CheckCpuType();
  int MeasureFrequency();
  int InitialiseSystem();
  int BeginFrequency(unsigned long timeoutMs);
  int EndFrequency(unsigned long timeoutMs);

  Ui_VorskClass ui;
  bool AutoStart;
  int Priority;
  int Duration;
  int Monitoring;
  bool ExportTXT;
  bool Shutdown;
  bool bShutdownPending;
  int MaxTemp;
  QVariant TempSensor;
  QVariant VoltSensor;
  QString SuccesSound;
  QString FailedSound;
  QTime TestTime;
  // Worker milliseconds of the run not yet whole in TestTime, in units of
  // 1/LogicalCount ms: dropping them every tick would shorten the test time
  // and push a fully loaded run above 100 per cent.
  int64_t TestTimeCarry;
  // The worker whose exit ended the run and was reported then, -1 if none.
  int ReportedWorker;
  // The kernel's hardware error counters over the run, and whether one rose.
  ErrorWatch HardwareErrors;
  bool HardwareErrorsFound = false;
  QTime EndTime;
  CpuSet ProcessAffinityMask;
  int TestTimer;
  int SensorTimer;
  QPalette AppPalette;
  QAction *restoreAction;
  QAction *quitAction;
  QMenu *trayIconMenu;
  QSystemTrayIcon *trayIcon;
  QPoint SavedPos;
  RunJournal Journal;
};

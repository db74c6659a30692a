#pragma once

#include "ui_Vorsk.h"

#include "platform/CpuSet.h"
#include "stress/RunController.h"
#include "stress/SampleStore.h"

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
class RunGraph;

// The window over a run controller: it shows the run's lines, colours,
// tool tips and ticks, and adds the tray, the sounds, the desktop notices
// and the shutdown rule.
class Vorsk : public QWidget {
  Q_OBJECT

public:
  // Without a tray (GNOME has none) the window minimises to the task bar.
  explicit Vorsk(bool trayAvailable = true, QWidget *parent = nullptr);

  bool StartTest();

  // Applies a look to the application and this window; palette true takes
  // the style's own colours, false the palette saved at construction.
  void ChangeStyle(QString style, bool palette);

  // The run this window shows. Its timers tick it; whatever drives it
  // without them (a scripted run, a benchmark) ticks it here.
  RunController &Controller() { return Run; }
  // What the graph window draws of the current or last run.
  const SampleStore &GraphData() const { return GraphSamples; }

private slots:
  void on_pushAbout_clicked();
  void on_pushOptions_clicked();
  void on_comboDuration_activated(int index);
  void on_comboPriority_activated(int index);
  void on_pushTest_clicked();
  void on_pushQuit_clicked();
  void on_pushGraph_clicked();
  void ShowAbout();
  void ShowOptions();
  void iconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
  void resizeEvent(QResizeEvent *event) override;
  void hideEvent(QHideEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  void CreateActions();
  void CreateTrayIcon();
  // Shows the controller's lines, colours, tool tips, ticks and ends.
  void ConnectRun();
  void AppendLog(const QString &line);
  // The 52-underscore line that starts each run after the first.
  void AppendSeparator();
  void SetLogColour(const char *colour);
  void ShowTick(const RunTick &tick);
  // The desktop notice of a run's end, titled with its last line: on a
  // failure the processor and the line before, otherwise the test time.
  void NotifyEnd(const RunResult &result);
  void PlaySuccessSound();
  void PlayFailureSound();
  void ApplyShutdownRule();
  void ShowInterruptedRun();
  bool WriteEventLog();

  // Identifies the machine into m_SystemInfo, its lines in the log pane
  // and its warnings in message boxes.
  int InitialiseSystem();

  Ui_VorskClass ui;
  bool AutoStart;
  int Priority;
  int Duration;
  bool Shutdown;
  bool bShutdownPending;
  QString SuccesSound;
  QString FailedSound;
  CpuSet ProcessAffinityMask;
  // Each engine's argument, from the identification.
  int EngineArgument = 0;
  QPalette AppPalette;
  QAction *restoreAction;
  QAction *quitAction;
  QMenu *trayIconMenu;
  QSystemTrayIcon *trayIcon;
  bool TrayAvailable;
  QPoint SavedPos;
  RunController Run;
  // What the graph window draws; the window is made when first asked for.
  SampleStore GraphSamples;
  RunGraph *Graph = nullptr;
};

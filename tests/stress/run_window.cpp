// run_window <worker program>: the window with a run going on, for the tests
// of a window killed or asked to quit during a run. The process keeps to
// processor 0, so of its two workers the second is refused its processor
// and the run logs that. Prints "running" once the run has ticked.

#include "about/ModalCloser.h"
#include "app/Termination.h"
#include "app/Vorsk.h"
#include "platform/linux/LinuxWorker.h"
#include "sysinfo/SystemInfo.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <sched.h>

int main(int argc, char *argv[]) {
  cpu_set_t first;
  CPU_ZERO(&first);
  CPU_SET(0, &first);
  // Before the platform reads the process's processors.
  if (argc != 2 || sched_setaffinity(0, sizeof first, &first) != 0)
    return 2;
  QApplication app(argc, argv);
  // The machine's check warns about the processors left out.
  ModalCloser closer;
  setWorkerProgram(argv[1]);
  Vorsk window;
  window.show();
  closeOnTerminationRequest(app, window);
  m_SystemInfo.LogicalCount = 2;
  window.StartTest();
  QTimer::singleShot(3500, [] {
    std::puts("running");
    std::fflush(stdout);
  });
  return app.exec();
}

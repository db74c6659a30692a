// The supervision tick's cost with the graph window closed and open: an
// hour of one-second ticks of a two-worker run on the fake platform (the
// tick's own work, no worker really runs), with a temperature source, the
// kernel's clocks, and the graph merging its points half-way. The open graph
// is measured twice: shown but not drawing, which is all the tick could
// notice of it, and drawing between the ticks as its timer does, which
// leaves the tick colder caches. Times are the user-interface thread's
// processor time, so a busy machine inflates them less than wall time.
//
//   build-bench/bin/graphbench [ticks]

#include "Publisher.h"

#include "app/RunGraph.h"
#include "app/Vorsk.h"
#include "platform/EngineContract.h"
#include "platform/fake/InstantThreadsFake.h"
#include "settings/SettingsKeys.h"
#include "stress/ThreadStress.h"
#include "sysinfo/Frequency.h"
#include "sysinfo/SystemInfo.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <time.h>

namespace {
const uint64_t MS = 10000; // 100-ns units in a millisecond

int64_t threadNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Figures {
  double median, p99, max;
};

Figures figures(std::vector<int64_t> ns) {
  std::sort(ns.begin(), ns.end());
  auto us = [&](size_t i) { return ns[std::min(i, ns.size() - 1)] / 1000.0; };
  return {us(ns.size() / 2), us(ns.size() * 99 / 100), us(ns.size() - 1)};
}

void print(const char *what, const Figures &f) {
  std::printf("%-30s median %8.1f us  p99 %8.1f us  max %8.1f us\n", what,
              f.median, f.p99, f.max);
}
} // namespace

class GraphBench {
public:
  enum Graph { Closed, OpenIdle, OpenDrawing };

  // Returns the tick times; when the graph draws, also what drawing took
  // after each tick.
  static std::vector<int64_t> run(Graph graph, int ticks,
                                  std::vector<int64_t> *drawing) {
    InstantThreadsFake fake; // frequency samplers end at once
    Platform *previous = setPlatform(&fake);
    setStopFlagLowByte(&bStopTest, 1);
    m_SystemInfo = SystemInfo{};
    std::vector<int64_t> tickNs;
    {
      Vorsk w;
      if (graph != Closed) {
        w.findChild<QPushButton *>("pushGraph")->click();
        QCoreApplication::processEvents();
      }
      m_SystemInfo.LogicalCount = 2;
      fake.processorClocksKHz = {{0, 4400000}, {1, 4400000}};
      w.findChild<QPushButton *>("pushTest")->click();
      RunController &run = w.Controller();
      for (int s = 0; s < ticks; ++s) {
        fake.advance(1000);
        for (int i = 0; i < 2; ++i)
          fake.thread(run.State().hThread[i])->userTime +=
              (s ? 1000 : 1500) * MS;
        fake.processorClocksKHz[s % 2] = 4300000 + 1000 * (s % 200);
        const int temperature = 6000 + int(1500 * std::sin(s / 60.0));
        fake.publish("SFSharedMemory_ALM", speedFanBytes({temperature}, {130}));
        const int64_t t0 = threadNs();
        run.TickSensors();
        run.Tick();
        const int64_t t1 = threadNs();
        // What the graph's own timer does between ticks, then the painting.
        if (graph == OpenDrawing)
          w.findChild<RunGraph *>()->Refresh();
        QCoreApplication::processEvents();
        tickNs.push_back(t1 - t0);
        if (drawing)
          drawing->push_back(threadNs() - t1);
      }
      if (stopFlagLowByte(&bStopTest) != 0)
        std::fprintf(stderr, "the run ended early\n");
      run.StopByUser();
    }
    setPlatform(previous);
    return tickNs;
  }
};

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3600;
  QTemporaryDir folder;
  QDir::setCurrent(folder.path());
  {
    QSettings settings("Vorsk.ini", QSettings::IniFormat);
    settings.setValue(Key::Monitoring, 2);
    settings.setValue(Key::TempSensor, 0);
    settings.setValue(Key::VoltSensor, 0);
    settings.setValue(Key::MaxTemp, 90);
  }

  std::printf("%d ticks of a two-worker run, fake platform, offscreen\n",
              ticks);
  print("tick, graph closed",
        figures(GraphBench::run(GraphBench::Closed, ticks, nullptr)));
  // Shown but not drawing: what the open window itself costs the tick.
  print("tick, graph open, not drawing",
        figures(GraphBench::run(GraphBench::OpenIdle, ticks, nullptr)));
  std::vector<int64_t> drawing;
  print("tick, graph open and drawing",
        figures(GraphBench::run(GraphBench::OpenDrawing, ticks, &drawing)));
  print("drawing between ticks", figures(drawing));
  return 0;
}

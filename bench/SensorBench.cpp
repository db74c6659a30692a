// The cost of one shared-memory sensor reading, whatever is published: time
// and peak resident memory of readSharedMemorySource() on an ordinary
// Everest text and on hostile ones, each published as a real POSIX object.

#include "Publisher.h"

#include "sensors/SensorReaders.h"
#include "sensors/SensorSources.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include <time.h>

namespace {

std::string repeated(const std::string &piece, size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i)
    text += piece;
  return text;
}

long statusKiB(const std::string &field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, field.size() + 1, field + ":") == 0)
      return std::atol(line.c_str() + field.size() + 1);
  return -1;
}

// Processor time of this thread: on a busy machine, wall time mostly
// measures the other processes.
double threadMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Peak resident memory from now on (writing 5 resets the high-water mark).
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Case {
  const char *name;
  std::function<std::string()> text;
};

} // namespace

int main(int argc, char **argv) {
  const int readings = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  const std::string cpu = "<temp><label>CPU</label><value>45</value></temp>";
  const Case cases[] = {
      {"ordinary, 200 sensors",
       [&] {
         return repeated("<temp><id>T</id><label>Board</label><value>40"
                         "</value></temp>",
                         200) +
                cpu;
       }},
      {"1,000,000 elements", [] { return repeated("<x/>", 1000000); }},
      {"25,000 levels deep", [] { return repeated("<a>", 25000); }},
      {"16 MiB in one element",
       [] { return "<temp><label>" + std::string(16 << 20, 'x'); }},
  };

  std::printf("%-24s %12s %12s %14s\n", "Everest text", "mean cpu ms",
              "mean wall ms", "peak +KiB");
  for (const Case &c : cases) {
    SharedObject object(sharedMemoryName(SOURCE_EVEREST),
                        everestBytes(c.text()));
    resetPeak();
    const long base = statusKiB("VmRSS");
    const double cpuStart = threadMs();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < readings; ++i) {
      double temperature = NO_READING, vcore = NO_READING;
      readSharedMemorySource(SOURCE_EVEREST, "CPU", "VCore", &temperature,
                             &vcore);
    }
    std::printf("%-24s %12.3f %12.3f %14ld\n", c.name,
                (threadMs() - cpuStart) / readings,
                wall.nsecsElapsed() / 1e6 / readings,
                statusKiB("VmHWM") - base);
  }
  return 0;
}

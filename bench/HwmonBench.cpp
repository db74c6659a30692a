// The cost of an lm-sensors reading per input: the first scan (library
// initialisation and chip discovery), then, for every temperature and voltage
// input the machine shows, the reading the sensor tick makes of it. Run it on
// a real machine, or under umockdev-run with recorded chips (README,
// "Benchmark").

#include "platform/linux/LibSensors.h"
#include "platform/linux/LinuxPlatform.h"
#include "sensors/LmSensors.h"
#include "sensors/SensorSources.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <time.h>

namespace {

// Processor time of this thread: on a busy machine, wall time mostly
// measures the other processes.
double threadUs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

} // namespace

int main(int argc, char **argv) {
  const int readings = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  if (argc > 2)
    libSensors().setConfigFile(argv[2]);
  setPlatform(&linuxPlatform());

  double cpuStart = threadUs();
  QElapsedTimer wall;
  wall.start();
  const std::vector<SensorInput> inputs = platform().sensorInputs();
  std::printf("first scan: %zu inputs, %.1f us cpu, %.1f us wall\n",
              inputs.size(), threadUs() - cpuStart, wall.nsecsElapsed() / 1e3);

  std::printf("%-32s %14s %14s\n", "input", "mean cpu us", "mean wall us");
  double worst = 0;
  for (const SensorInput &input : inputs) {
    const QString name = QString::fromStdString(input.chip + " " + input.label);
    const bool temperature = input.kind == SensorKind::Temperature;
    cpuStart = threadUs();
    wall.restart();
    for (int i = 0; i < readings; ++i) {
      double t = NO_READING, v = NO_READING;
      ReadLmSensorsSource(temperature ? name : QString(),
                          temperature ? QString() : name, &t, &v);
    }
    const double cpu = (threadUs() - cpuStart) / readings;
    std::printf("%-32s %14.2f %14.2f\n", qPrintable(name), cpu,
                wall.nsecsElapsed() / 1e3 / readings);
    worst = std::max(worst, cpu);
  }
  std::printf("summary lm-sensors-reading-us %.2f\n", worst);
  return 0;
}

#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// Core clock of the first logical processor, in MHz, into
// m_SystemInfo.Frequency: once at start-up, and as the average since a start
// sample during a test run.

// Sample globals. Written by the sampling threads, read by the user-interface
// thread, hence atomic.
extern std::atomic<int64_t> Fwin;       // performance-counter counts per s
extern std::atomic<int64_t> Tcpu_avant; // cycles at the start sample
extern std::atomic<int64_t> Tcpu_apres; // cycles at the end sample
extern std::atomic<int64_t> Tcpu;
extern std::atomic<int64_t> Twin_avant; // time at the start sample
extern std::atomic<int64_t> Twin_apres; // time at the end sample
extern std::atomic<int64_t> Twin;

// Thread procedures of the start and end samples; run on the first processor
// the process may run on.
uint32_t ThreadBeginFrequency(void *param);
uint32_t ThreadEndFrequency(void *param);

// The clock under load of one processor of a test run, sampled on the run's
// ticks.
struct LoadClock {
  uint64_t SumKHz = 0;
  uint32_t Samples = 0;
  // APERF and MPERF at the previous tick, once Counted. Counters turns false
  // for the rest of the run when they cannot be read or do not count.
  uint64_t Aperf = 0;
  uint64_t Mperf = 0;
  bool Counted = false;
  bool Counters = true;
};

namespace sysinfo {

// Receives the failure lines meant for the log pane.
using LogLine = std::function<void(const QString &)>;

// Start-up measurement on the calling thread, which the caller pinned to
// the first processor it may run on; chooses the sampling mode. Always 1.
int MeasureFrequency();
// Take a start or end sample on a pinned sampling thread; 1 when it was taken
// within timeoutMs.
int BeginFrequency(unsigned long timeoutMs, const LogLine &log);
int EndFrequency(unsigned long timeoutMs, const LogLine &log);

// "%.1f MHz", as the frequency label shows it.
QString frequencyText(double mhz);

// Adds the clock of each processor of `entries` (indices in Processor: the
// loaded workers' processors) since the previous tick to its samples: the
// time-stamp counter's rate times the rise of APERF over MPERF where those can
// be read (root and the msr module; the first tick only starts the count), else
// the kernel's cpufreq clock, else nothing. clocks holds the run's samples,
// by entry. Returns the mean of this tick's samples in MHz, NaN when no
// processor gave one.
double SampleProcessorClocks(std::vector<LoadClock> &clocks,
                             const std::vector<int> &entries);
// The end-of-run line from those samples, each processor's average clock:
// "Fréquence : <average> MHz (<lowest> à <highest>)", with the average in
// *mhz; empty when no processor gave a sample.
QString processorClocksLine(const std::vector<LoadClock> &clocks, double *mhz);

} // namespace sysinfo

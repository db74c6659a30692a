#include "sysinfo/Frequency.h"

#include "platform/Platform.h"
#include "sysinfo/CpuPrimitives.h"
#include "sysinfo/SystemInfo.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::atomic<int64_t> Fwin{0}, Tcpu_avant{0}, Tcpu_apres{0}, Tcpu{0},
    Twin_avant{0}, Twin_apres{0}, Twin{0};

namespace {

const uint32_t MSR_MPERF = 0xE7;
const uint32_t MSR_APERF = 0xE8;

// Cycles counted by the sampling mode: the actual-performance counter where
// it is usable, the time-stamp counter otherwise.
int64_t cycles() {
  if (m_SystemInfo.bConstantTsc && m_SystemInfo.bAperf)
    return int64_t(Rdmsr(MSR_APERF));
  return int64_t(Rdtsc());
}

int64_t milliseconds() { return int64_t(platform().timeGetTime()); }

// Tcpu / Twin x scale, with Tcpu taken as unsigned: a difference with its
// sign bit set is a large count, not a negative one. Twin of 0 or less gives
// no frequency.
bool frequency(long double scale, double *mhz) {
  Tcpu = Tcpu_apres - Tcpu_avant;
  Twin = Twin_apres - Twin_avant;
  int64_t twin = Twin;
  if (twin <= 0)
    return false;
  long double count = static_cast<long double>(uint64_t(int64_t(Tcpu)));
  *mhz = double(count / twin * scale);
  return true;
}

// Cycles against the performance counter.
bool performanceFrequency(double *mhz) {
  return frequency(static_cast<long double>(int64_t(Fwin)) / 1000000.0L, mhz);
}

// Cycles against the millisecond timer.
bool millisecondFrequency(double *mhz) {
  return frequency(1.0L / 1000.0L, mhz);
}

// The invariant-TSC bit (leaf 0x80000007 EDX bit 8); before it existed,
// Intel's constant-rate counters are known by model: family 15 from model 3,
// family 6 models 14 and 15 (no extended model).
bool constantTscProcessor(const SystemInfo &info) {
  Cpuid(0x80000000, 0);
  if (i_eax >= 0x80000007) {
    Cpuid(0x80000007, 0);
    if (i_edx & (1u << 8))
      return true;
  }
  if (info.Vendor != VENDOR_INTEL)
    return false;
  Cpuid(1, 0);
  bool extendedModel = (i_eax >> 16) & 0xF;
  return (info.Family == 15 && info.Model > 2) ||
         (info.Family == 6 && !extendedModel && info.Model > 13);
}

int sample(ThreadProc proc, const char *name, bool reportTimeout,
           unsigned long timeoutMs, const sysinfo::LogLine &log) {
  Platform &p = platform();
  ThreadHandle thread = p.createThreadSuspended(proc, nullptr);
  if (!thread) {
    log("CreateThread() error.");
    return 0;
  }
  const char *failure = nullptr;
  // The first processor the process may run on, where the start-up
  // measurement ran.
  const std::vector<int> &processors = m_SystemInfo.Processor;
  if (!p.setThreadAffinityMask(
          thread, CpuSet::single(processors.empty() ? 0 : processors[0])))
    failure = "SetThreadAffinityMask() error.";
  else if (!p.setThreadPriority(thread, ThreadPriority::AboveNormal))
    failure = "SetThreadPriority() error.";
  else if (p.resumeThread(thread) == RESUME_FAILED)
    failure = "ResumeThread() error.";
  if (failure) {
    // Closing a thread that was never resumed cancels it.
    p.closeHandle(thread);
    log(failure);
    return 0;
  }

  uint32_t timeout = timeoutMs > UINT32_MAX ? UINT32_MAX : uint32_t(timeoutMs);
  WaitResult result = p.waitForThread(thread, timeout);
  p.closeHandle(thread);
  switch (result) {
  case WaitResult::Ended:
    return 1;
  case WaitResult::TimedOut:
    if (reportTimeout)
      log(QString("%1() : WAIT_TIMEOUT").arg(name));
    return 0;
  case WaitResult::Failed:
    log(QString("%1() : WAIT_FAILED").arg(name));
    return 0;
  }
  return 0;
}

// MPERF counts at the time-stamp counter's constant rate and APERF at the
// actual clock, both only while the processor runs: their rises since the
// previous tick give the clock it ran at. False until there is a previous
// tick, and for good once they cannot be read or MPERF stands still.
bool countedClock(LoadClock &clock, int processor, uint64_t *kHz) {
  const SystemInfo &info = m_SystemInfo;
  uint64_t aperf = 0, mperf = 0;
  clock.Counters = clock.Counters && info.bConstantTsc &&
                   info.TscFrequency > 0 &&
                   ReadProcessorMsr(processor, MSR_APERF, &aperf) &&
                   ReadProcessorMsr(processor, MSR_MPERF, &mperf);
  if (!clock.Counters)
    return false;
  const bool counted = clock.Counted;
  // Unsigned differences: a counter that wrapped still rose.
  const uint64_t actual = aperf - clock.Aperf;
  const uint64_t reference = mperf - clock.Mperf;
  clock.Aperf = aperf;
  clock.Mperf = mperf;
  clock.Counted = true;
  if (!counted)
    return false;
  clock.Counters = reference != 0;
  if (!clock.Counters)
    return false;
  *kHz = uint64_t(std::llround(info.TscFrequency * 1000.0 * double(actual) /
                               double(reference)));
  return true;
}

} // namespace

uint32_t ThreadBeginFrequency(void *) {
  if (!m_SystemInfo.bConstantTsc) {
    Fwin = platform().performanceFrequency();
    Twin_avant = platform().performanceCounter();
    Tcpu_avant = int64_t(Rdtsc());
  } else if (m_SystemInfo.bAperf) {
    Tcpu_avant = cycles();
    Twin_avant = milliseconds();
  } else {
    Twin_avant = milliseconds();
    Tcpu_avant = cycles();
  }
  return 0;
}

uint32_t ThreadEndFrequency(void *) {
  double mhz = 0;
  if (!m_SystemInfo.bConstantTsc) {
    Twin_apres = platform().performanceCounter();
    Tcpu_apres = int64_t(Rdtsc());
    if (performanceFrequency(&mhz))
      m_SystemInfo.Frequency = mhz;
  } else {
    Twin_apres = milliseconds();
    Tcpu_apres = cycles();
    if (millisecondFrequency(&mhz))
      m_SystemInfo.Frequency = mhz;
  }
  return 0;
}

namespace sysinfo {

int MeasureFrequency() {
  SystemInfo &info = m_SystemInfo;
  Platform &p = platform();

  info.bAperf = 0;
  info.bConstantTsc = constantTscProcessor(info) ? 1 : 0;
  if (info.bConstantTsc) {
    Cpuid(6, 0);
    if ((i_ecx & 1) && Rdmsr(MSR_APERF) != 0)
      info.bAperf = 1;
  }
  p.sleep(300);

  // First measurement: always the time-stamp counter against the
  // performance counter.
  Fwin = p.performanceFrequency();
  Twin_avant = p.performanceCounter();
  Tcpu_avant = int64_t(Rdtsc());
  Wait(100);
  Twin_apres = p.performanceCounter();
  Tcpu_apres = int64_t(Rdtsc());
  double f1 = 0;
  bool first = performanceFrequency(&f1);
  if (first)
    info.Frequency = info.TscFrequency = f1;
  if (!info.bConstantTsc)
    return 1;

  // A constant-rate counter does not follow the core clock: measure again
  // with the sampling mode's own source, and keep it when it differs by
  // more than 1 %.
  Wait(200);
  if (info.bAperf) {
    Tcpu_avant = cycles();
    Twin_avant = milliseconds();
    Wait(400);
    Twin_apres = milliseconds();
    Tcpu_apres = cycles();
  } else {
    Twin_avant = milliseconds();
    Tcpu_avant = cycles();
    Wait(400);
    Twin_apres = milliseconds();
    Tcpu_apres = cycles();
  }
  double f2 = 0;
  if (millisecondFrequency(&f2) &&
      (!first || f1 <= 0 || std::fabs(f2 - f1) / f1 > 0.01))
    info.Frequency = f2;
  return 1;
}

int BeginFrequency(unsigned long timeoutMs, const LogLine &log) {
  return sample(ThreadBeginFrequency, "BeginFrequency", true, timeoutMs, log);
}

int EndFrequency(unsigned long timeoutMs, const LogLine &log) {
  return sample(ThreadEndFrequency, "EndFrequency", false, timeoutMs, log);
}

QString frequencyText(double mhz) { return QString::asprintf("%.1f MHz", mhz); }

double SampleProcessorClocks(std::vector<LoadClock> &clocks,
                             const std::vector<int> &entries) {
  const SystemInfo &info = m_SystemInfo;
  clocks.resize(info.Processor.size());
  uint64_t sumKHz = 0;
  int processors = 0;
  for (int entry : entries) {
    if (entry < 0 || size_t(entry) >= info.Processor.size())
      continue;
    const size_t i = size_t(entry);
    LoadClock &clock = clocks[i];
    const int processor = info.Processor[i];
    uint64_t kHz = 0;
    const bool measured =
        countedClock(clock, processor, &kHz) ||
        (!clock.Counters && platform().processorClockKHz(processor, &kHz));
    if (measured) {
      clock.SumKHz += kHz;
      ++clock.Samples;
      sumKHz += kHz;
      ++processors;
    }
  }
  return processors ? double(sumKHz) / processors / 1000
                    : std::numeric_limits<double>::quiet_NaN();
}

QString processorClocksLine(const std::vector<LoadClock> &clocks, double *mhz) {
  double sum = 0, lowest = 0, highest = 0;
  int processors = 0;
  for (const LoadClock &clock : clocks) {
    if (!clock.Samples)
      continue;
    double average = double(clock.SumKHz) / clock.Samples / 1000;
    lowest = processors ? std::min(lowest, average) : average;
    highest = processors ? std::max(highest, average) : average;
    sum += average;
    ++processors;
  }
  if (!processors)
    return QString();
  *mhz = sum / processors;
  return QString::fromUtf8("Fréquence : %1 MHz (%2 à %3)")
      .arg(*mhz, 0, 'f', 1)
      .arg(lowest, 0, 'f', 1)
      .arg(highest, 0, 'f', 1);
}

} // namespace sysinfo

#pragma once

#include "platform/fake/FakePlatform.h"
#include "platform/fake/RecordedProcessor.h"
#include "sysinfo/SystemSummary.h"

#include <QMetaType>
#include <QStringList>

#include <functional>

// A fake platform with a recorded processor on it, installed for a scope.
struct RecordedMachine {
  FakePlatformScope platform;
  RecordedProcessorScope processor{platform.fake};
  FakePlatform &fake = platform.fake;
  RecordedProcessor &cpu = processor.cpu;
};

// The identification run on the installed platform, what it logged and the
// warnings it gave kept apart.
struct Identified {
  QStringList log, warnings;
  CpuSet mask;
  int result = sysinfo::InitialiseSystem(
      &mask, {[this](const QString &l) { log << l; },
              [this](const QString &w) { warnings << w; }});
};

using Sig = RecordedProcessor;
using Recording = std::function<void(RecordedProcessor &)>;
Q_DECLARE_METATYPE(Recording)

inline void setLeaf1(RecordedProcessor &cpu, uint32_t eax, uint32_t ebx,
                     uint32_t ecx, uint32_t edx) {
  cpu.setLeaf(1, 0, {eax, ebx, ecx, edx});
}

// Leaf 4 sub-leaf describing a cache: type (1 data, 2 instruction, 3
// unified), level, logical processors sharing it, cores per package.
inline CpuidResult cacheLeaf(unsigned type, unsigned level, unsigned sharing,
                             unsigned cores) {
  return {type | level << 5 | (sharing - 1) << 14 | (cores - 1) << 26, 0, 0, 0};
}

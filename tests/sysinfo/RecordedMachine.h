#pragma once

#include "platform/fake/FakePlatform.h"
#include "platform/fake/RecordedProcessor.h"

#include <QMetaType>

#include <functional>

// A fake platform with a recorded processor on it, installed for a scope.
struct RecordedMachine {
  FakePlatformScope platform;
  RecordedProcessorScope processor{platform.fake};
  FakePlatform &fake = platform.fake;
  RecordedProcessor &cpu = processor.cpu;
};

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

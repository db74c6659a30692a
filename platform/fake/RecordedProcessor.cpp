#include "platform/fake/RecordedProcessor.h"

#include "platform/fake/FakePlatform.h"

#include <algorithm>
#include <cstring>

namespace {
const uint32_t MSR_APERF = 0xE8;

uint32_t word(const char *bytes) {
  uint32_t w;
  std::memcpy(&w, bytes, 4);
  return w;
}
} // namespace

RecordedProcessor::RecordedProcessor(FakePlatform &fake) : fake_(fake) {}

void RecordedProcessor::setLeaf(uint32_t leaf, uint32_t subleaf, CpuidResult r,
                                int processor) {
  leaves_[processor][{leaf, subleaf}] = r;
}

void RecordedProcessor::setVendor(const std::string &vendor,
                                  uint32_t highestLeaf) {
  char text[12] = {};
  std::memcpy(text, vendor.data(), std::min<size_t>(vendor.size(), 12));
  setLeaf(0, 0, {highestLeaf, word(text), word(text + 8), word(text + 4)});
}

void RecordedProcessor::setBrandString(const std::string &brand,
                                       uint32_t highestExtendedLeaf) {
  char text[48] = {};
  std::memcpy(text, brand.data(), std::min<size_t>(brand.size(), 48));
  for (uint32_t i = 0; i < 3; ++i) {
    const char *p = text + 16 * i;
    setLeaf(0x80000002 + i, 0,
            {word(p), word(p + 4), word(p + 8), word(p + 12)});
  }
  CpuidResult top = leaves_[ALL][{0x80000000, 0}];
  top.eax = highestExtendedLeaf;
  setLeaf(0x80000000, 0, top);
}

void RecordedProcessor::setApicId(int processor, uint8_t apicId) {
  apicIds_[processor] = apicId;
}

uint32_t RecordedProcessor::signature(unsigned family, unsigned model,
                                      unsigned stepping,
                                      unsigned extendedFamily,
                                      unsigned extendedModel) {
  return (stepping & 0xF) | (model & 0xF) << 4 | (family & 0xF) << 8 |
         (extendedModel & 0xF) << 16 | (extendedFamily & 0xFF) << 20;
}

void RecordedProcessor::setMsr(uint32_t msr, uint64_t value, int processor) {
  msrs_[processor][msr] = value;
}

int RecordedProcessor::currentProcessor() const {
  std::vector<int> cpus = fake_.currentAffinity.members();
  return cpus.empty() ? 0 : cpus.front();
}

CpuidResult RecordedProcessor::cpuid(uint32_t leaf, uint32_t subleaf) {
  int cpu = currentProcessor();
  CpuidResult r;
  for (int owner : {cpu, ALL}) {
    auto table = leaves_.find(owner);
    if (table == leaves_.end())
      continue;
    auto it = table->second.find({leaf, subleaf});
    if (it != table->second.end()) {
      r = it->second;
      break;
    }
  }
  auto apic = apicIds_.find(cpu);
  if (leaf == 1 && apic != apicIds_.end())
    r.ebx = (r.ebx & 0x00FFFFFFu) | uint32_t(apic->second) << 24;
  return r;
}

uint64_t RecordedProcessor::cyclesAt(uint64_t mhz) const {
  // performanceCounter of the fake is in nanoseconds.
  return uint64_t(fake_.performanceCounter()) * mhz / 1000;
}

uint64_t RecordedProcessor::rdtsc() {
  if (!tscReadings.empty()) {
    uint64_t v = tscReadings.front();
    tscReadings.pop_front();
    return v;
  }
  return cyclesAt(tscMHz);
}

uint64_t RecordedProcessor::xgetbv(uint32_t index) {
  return index == 0 ? xcr0 : 0;
}

void RecordedProcessor::spin(int ms) {
  if (ms > 0)
    fake_.advance(uint64_t(ms));
}

bool RecordedProcessor::setPrivilege(const char *name, bool enable) {
  if (!name || std::strcmp(name, "SeDebugPrivilege") != 0)
    return false;
  if (enable) {
    ++privilegeEnables;
    if (!privilegeAvailable)
      return false;
    ++privilegeHeld;
  } else if (privilegeHeld > 0) {
    --privilegeHeld;
  }
  return true;
}

bool RecordedProcessor::readMsr(uint32_t msr, uint64_t *value) {
  return msrOf(currentProcessor(), msr, value);
}

bool RecordedProcessor::readMsrOf(int cpu, uint32_t msr, uint64_t *value) {
  return msrOf(cpu, msr, value);
}

bool RecordedProcessor::msrOf(int cpu, uint32_t msr, uint64_t *value) {
  msrReads.push_back(msr);
  if (failingMsrs.count(msr))
    return false;
  if (msr == MSR_APERF && aperfMHz) {
    *value = cyclesAt(aperfMHz);
    return true;
  }
  for (int owner : {cpu, ALL}) {
    auto table = msrs_.find(owner);
    if (table == msrs_.end())
      continue;
    auto it = table->second.find(msr);
    if (it != table->second.end()) {
      *value = it->second;
      return true;
    }
  }
  return false;
}

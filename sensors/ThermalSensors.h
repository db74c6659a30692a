#pragma once

#include "sensors/SensorReaders.h"
#include "sensors/SensorSources.h"

#include <atomic>
#include <cstdint>

// The two thermal sensors inside the processor: the Intel digital thermal
// sensor (MSR 0x19C, one per core) and the AMD K8 thermal-trip register (PCI
// configuration space of the package's northbridge, read through the kernel;
// one per core of a package). Both need the identification done at start-up.

constexpr uint32_t MSR_THERM_STATUS = 0x19C;
constexpr uint32_t INTEL_READING_WAIT_MS = 600;

// Availability of sources 5 and 6: the processor has the sensor and its
// register can be read (the MSR device, or the first package's PCI
// configuration past its first 64 bytes, both root only). The absence is why
// not, empty when available.
QString IntelSensorAbsence();
QString K8SensorAbsence();
bool IntelSensorAvailable();
bool K8SensorAvailable();

// TjMax minus the distance below it in bits 22..16 of the status register.
int IntelCoreTemperature(uint64_t thermalStatus, int tjMax);
// PCI configuration address of a package's thermal-trip register, the
// value selecting its core, and the temperature in its raw value.
uint32_t K8ConfigAddress(int packageId);
uint32_t K8SelectValue(int coresPerPackage, int coreId);
int K8Temperature(uint32_t raw);

// The result of one Intel reading. The reading thread co-owns it, so a thread
// that misses its time-out still writes into live storage.
struct IntelCoreReading {
  std::atomic<int> temperature{0};
};
// Thread procedure: param is a heap-allocated std::shared_ptr<IntelCoreReading>
// that the thread takes over (and deletes) when it runs. Reads the core the
// thread runs on.
uint32_t ThreadIntelCoreTemp(void *param);

// Reading of source 5 on a thread pinned to processor, waited for 600 ms. 0
// when the sensor is not available or the thread did not start (each start
// failure appends its line); 1 otherwise, the values changed only when the
// thread ended in time. A processor outside 0..31 or outside the process is
// a failed affinity.
int ReadIntelCoreSource(int processor, double *temperature, double *vcore,
                        const AppendLog &appendLog);
// Reading of source 6 for a logical processor. 0 when the sensor is not
// available or the processor is not one of this machine's.
int ReadK8Source(int processor, double *temperature, double *vcore);

// The sensors of source 5 (one per processor of the process, read by pinning
// the calling thread to each in turn) or 6 (one per logical processor), with
// their current values; present is false when the sensor is not available.
SensorList listProcessorSource(int source);

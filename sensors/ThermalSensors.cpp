#include "sensors/ThermalSensors.h"

#include "platform/Platform.h"
#include "sysinfo/CpuPrimitives.h"
#include "sysinfo/SystemInfo.h"

#include <memory>

namespace {

const char NoRegisterAccess[] =
    "Registres du processeur inaccessibles : droits d'administrateur et "
    "module msr nécessaires.";

using ReadingOwner = std::shared_ptr<IntelCoreReading>;

QString coreName(int processor) {
  return QString::asprintf("Température Core %d", processor);
}

int intelTemperatureHere() {
  return IntelCoreTemperature(Rdmsr(MSR_THERM_STATUS), m_SystemInfo.TjMax);
}

// Vendor and device of the K8 northbridge's miscellaneous control function,
// as its first configuration register holds them.
const uint32_t K8_NORTHBRIDGE_ID = 0x11031022;

uint32_t pciDeviceId(uint32_t address) {
  uint32_t id = 0;
  platform().readPciConfig(pciDeviceName(address), 0, &id);
  return id;
}

bool knownProcessor(int processor) {
  return processor >= 0 && processor < m_SystemInfo.LogicalCount &&
         processor < int(m_SystemInfo.Apic.size());
}

int k8TemperatureOf(int processor) {
  const ApicInfo &apic = m_SystemInfo.Apic[processor];
  return K8Temperature(ReadK8ThermTrip(
      K8ConfigAddress(apic.PackageId),
      K8SelectValue(m_SystemInfo.CoresPerPackage, apic.CoreId)));
}

// A thread that was never resumed never runs its procedure, so its reading
// stays with the caller and is released here.
int abandonThread(ThreadHandle thread, ReadingOwner *owner,
                  const AppendLog &appendLog, const char *line) {
  platform().closeHandle(thread);
  delete owner;
  appendLog(line);
  return 0;
}

SensorList listIntelCores() {
  SensorList list;
  list.present = true;
  CpuSet processMask, systemMask;
  platform().getProcessAffinityMask(&processMask, &systemMask);
  for (int k : processMask.members()) {
    if (!platform().setProcessAffinityMask(CpuSet::single(k)))
      continue;
    // Lets the scheduler move the thread onto that processor.
    platform().sleep(16);
    list.temperatures.append(
        {coreName(k), formatTemperature(intelTemperatureHere()), k});
  }
  platform().setProcessAffinityMask(processMask);
  return list;
}

SensorList listK8Cores() {
  SensorList list;
  list.present = true;
  for (int i = 0; knownProcessor(i); ++i)
    list.temperatures.append(
        {coreName(i), formatTemperature(k8TemperatureOf(i)), i});
  return list;
}

} // namespace

QString IntelSensorAbsence() {
  Cpuid(6, 0);
  // TestZwSystemDebugControl overwrites the slots: read them first.
  uint32_t eax = i_eax, ebx = i_ebx;
  if (!(eax & 1) || !(ebx & 0xF))
    return QString::fromUtf8(
        "Ce processeur n'a pas de capteur thermique numérique.");
  if (TestZwSystemDebugControl() != 1)
    return QString::fromUtf8(NoRegisterAccess);
  return {};
}

QString K8SensorAbsence() {
  Cpuid(0x80000007, 0);
  uint32_t edx = i_edx;
  if (!(edx & 8))
    return QString::fromUtf8("Ce processeur n'a pas de capteur thermique K8.");
  // Later families keep the diode bit, but 0xE4 of their 00:18.3 is another
  // register: writing the select byte there would change it.
  const QString notK8 = QString::fromUtf8("Ce processeur n'est pas un K8.");
  Cpuid(1, 0);
  if ((i_eax >> 8 & 0xF) != 0xF || (i_eax >> 20 & 0xFF) != 0)
    return notK8;
  // The first package's northbridge stands for all of them; its identity
  // lies in the first 64 bytes, which anyone may read.
  const uint32_t address = K8ConfigAddress(0);
  const PciConfigRead access = pciRegisterAccess(address);
  if (access == PciConfigRead::Missing)
    return QString::fromUtf8("Pont nord K8 introuvable (périphérique PCI "
                             "%1 absent).")
        .arg(QString::fromStdString(pciDeviceName(address)));
  if (pciDeviceId(address) != K8_NORTHBRIDGE_ID)
    return notK8;
  if (access == PciConfigRead::Refused)
    return QString::fromUtf8("Registre thermique K8 illisible : droits "
                             "d'administrateur nécessaires.");
  // The kernel's own k8temp driver writes the same select byte: reading
  // beside it, each would get the other's core.
  if (platform().pciDriver(pciDeviceName(address)) == "k8temp")
    return QString::fromUtf8("Capteur K8 déjà lu par le pilote k8temp du "
                             "noyau : choisissez la source lm-sensors.");
  return {};
}

bool IntelSensorAvailable() { return IntelSensorAbsence().isEmpty(); }

bool K8SensorAvailable() { return K8SensorAbsence().isEmpty(); }

int IntelCoreTemperature(uint64_t thermalStatus, int tjMax) {
  return tjMax - int((thermalStatus >> 16) & 0x7F);
}

uint32_t K8ConfigAddress(int packageId) {
  return 0x800003E4u | ((uint32_t(packageId + 0x18) & 0x1F) << 11);
}

uint32_t K8SelectValue(int coresPerPackage, int coreId) {
  return coresPerPackage == 2 && coreId == 0 ? 4 : 0;
}

int K8Temperature(uint32_t raw) { return int((raw >> 16) & 0xFF) - 49; }

uint32_t ThreadIntelCoreTemp(void *param) {
  std::unique_ptr<ReadingOwner> owner(static_cast<ReadingOwner *>(param));
  (*owner)->temperature = intelTemperatureHere();
  return 0;
}

int ReadIntelCoreSource(int processor, double *temperature, double *vcore,
                        const AppendLog &appendLog) {
  if (!IntelSensorAvailable())
    return 0;
  auto reading = std::make_shared<IntelCoreReading>();
  auto *owner = new ReadingOwner(reading);
  ThreadHandle thread =
      platform().createThreadSuspended(ThreadIntelCoreTemp, owner);
  if (!thread) {
    delete owner;
    appendLog("CreateThread() error.");
    return 0;
  }
  // A negative number is no processor: the empty set makes the affinity call
  // fail.
  if (!platform().setThreadAffinityMask(thread, CpuSet::single(processor)))
    return abandonThread(thread, owner, appendLog,
                         "SetThreadAffinityMask() error.");
  if (!platform().setThreadPriority(thread, ThreadPriority::AboveNormal))
    return abandonThread(thread, owner, appendLog,
                         "SetThreadPriority() error.");
  if (platform().resumeThread(thread) == RESUME_FAILED)
    return abandonThread(thread, owner, appendLog, "ResumeThread() error.");
  // From here the thread owns its reference; after a time-out it may still
  // write, into the reading it co-owns, which nobody reads any more.
  switch (platform().waitForThread(thread, INTEL_READING_WAIT_MS)) {
  case WaitResult::Ended:
    *temperature = reading->temperature;
    *vcore = NO_READING;
    break;
  case WaitResult::Failed:
    appendLog("ThreadIntelCoreTemp() : WAIT_FAILED");
    break;
  case WaitResult::TimedOut:
    break;
  }
  platform().closeHandle(thread);
  return 1;
}

int ReadK8Source(int processor, double *temperature, double *vcore) {
  if (!K8SensorAvailable() || !knownProcessor(processor))
    return 0;
  *temperature = k8TemperatureOf(processor);
  *vcore = NO_READING;
  return 1;
}

SensorList listProcessorSource(int source) {
  const QString absence =
      source == SOURCE_INTEL ? IntelSensorAbsence() : K8SensorAbsence();
  if (!absence.isEmpty())
    return absentSource(absence);
  return source == SOURCE_INTEL ? listIntelCores() : listK8Cores();
}

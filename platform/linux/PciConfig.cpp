#include "platform/linux/PciConfig.h"

#include <cerrno>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string configPath(const std::string &device) {
  return "/sys/bus/pci/devices/" + device + "/config";
}

} // namespace

PciConfigRead readPciConfigRegister(const std::string &device, uint32_t offset,
                                    uint32_t *value) {
  // A name with a slash could reach any file.
  if (device.empty() || device.find('/') != std::string::npos)
    return PciConfigRead::Missing;
  const int fd = ::open(configPath(device).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno == EACCES ? PciConfigRead::Refused : PciConfigRead::Missing;
  uint32_t reg = 0;
  // The file ends after 64 bytes for an ordinary user: a short read.
  const bool read =
      ::pread(fd, &reg, sizeof reg, off_t(offset)) == ssize_t(sizeof reg);
  ::close(fd);
  if (!read)
    return PciConfigRead::Refused;
  *value = reg;
  return PciConfigRead::Read;
}

bool writePciConfigRegisterByte(const std::string &device, uint32_t offset,
                                uint8_t value) {
  if (device.empty() || device.find('/') != std::string::npos)
    return false;
  const int fd = ::open(configPath(device).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  const bool written = ::pwrite(fd, &value, 1, off_t(offset)) == 1;
  ::close(fd);
  return written;
}

std::string pciDeviceDriver(const std::string &device) {
  if (device.empty() || device.find('/') != std::string::npos)
    return {};
  std::ifstream uevent("/sys/bus/pci/devices/" + device + "/uevent");
  const std::string key = "DRIVER=";
  for (std::string line; std::getline(uevent, line);)
    if (line.compare(0, key.size(), key) == 0)
      return line.substr(key.size());
  return {};
}

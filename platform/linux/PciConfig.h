#pragma once

#include "platform/Platform.h"

#include <string>

// PCI configuration registers through /sys/bus/pci/devices/DEVICE/config.
// The kernel hands an ordinary user only the first 64 bytes of that file and
// reads the rest under its own lock, for root.
PciConfigRead readPciConfigRegister(const std::string &device, uint32_t offset,
                                    uint32_t *value);
bool writePciConfigRegisterByte(const std::string &device, uint32_t offset,
                                uint8_t value);
// The driver the device's uevent names (DRIVER=), empty when none.
std::string pciDeviceDriver(const std::string &device);

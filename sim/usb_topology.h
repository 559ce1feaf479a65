// Names and sysfs descriptions of emulated USB devices: the sysfs name of a
// port path ("usb1", "1-1", "1-1.4.2") and the umockdev record text of a hub
// or a device with its descriptors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

std::string sysfsName(const std::vector<int> &ports);
// Parent chain down to the device: "/devices/usb1/1-1/1-1.4".
std::string sysfsPath(const std::vector<int> &ports);
std::string devNodePath(int devnum);

// umockdev record text of one device. A hub when vendor is 0.
std::string deviceRecord(const std::vector<int> &ports, int devnum, uint16_t vendor, uint16_t product);

} // namespace sim

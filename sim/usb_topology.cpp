// sysfs records of the emulated bus.
#include "sim/usb_topology.h"

#include <cstdio>

namespace sim {

namespace {

std::string hex(const std::vector<uint8_t> &bytes)
{
    std::string out;
    char b[3];
    for (uint8_t v : bytes) {
        snprintf(b, sizeof b, "%02x", v);
        out += b;
    }
    return out;
}

// Device, configuration, interface and endpoint descriptors.
std::vector<uint8_t> descriptors(uint16_t vendor, uint16_t product)
{
    const bool hub = vendor == 0;
    if (hub) {
        vendor = 0x1d6b;
        product = 0x0002;
    }
    std::vector<uint8_t> d = {0x12,
                              0x01,
                              0x00,
                              0x02,
                              static_cast<uint8_t>(hub ? 0x09 : 0x00),
                              0x00,
                              0x00,
                              0x40,
                              static_cast<uint8_t>(vendor & 0xff),
                              static_cast<uint8_t>(vendor >> 8),
                              static_cast<uint8_t>(product & 0xff),
                              static_cast<uint8_t>(product >> 8),
                              0x00,
                              0x01,
                              0x00,
                              0x00,
                              0x00,
                              0x01};
    if (hub) {
        const std::vector<uint8_t> cfg = {0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xe0, 0x00, 0x09, 0x04, 0x00, 0x00,
                                          0x01, 0x09, 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0c};
        d.insert(d.end(), cfg.begin(), cfg.end());
    } else {
        // Interface 0, vendor class, bulk OUT 0x01 and bulk IN 0x81 of 64 bytes.
        const std::vector<uint8_t> cfg = {0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32, 0x09, 0x04,
                                          0x00, 0x00, 0x02, 0xff, 0x00, 0x00, 0x00, 0x07, 0x05, 0x01, 0x02,
                                          0x40, 0x00, 0x00, 0x07, 0x05, 0x81, 0x02, 0x40, 0x00, 0x00};
        d.insert(d.end(), cfg.begin(), cfg.end());
    }
    return d;
}

} // namespace

std::string sysfsName(const std::vector<int> &ports)
{
    if (ports.empty())
        return "usb1";
    std::string name = "1-" + std::to_string(ports[0]);
    for (size_t i = 1; i < ports.size(); ++i)
        name += "." + std::to_string(ports[i]);
    return name;
}

std::string sysfsPath(const std::vector<int> &ports)
{
    std::string path = "/devices/usb1";
    for (size_t n = 1; n <= ports.size(); ++n)
        path += "/" + sysfsName(std::vector<int>(ports.begin(), ports.begin() + static_cast<long>(n)));
    return path;
}

std::string devNodePath(int devnum)
{
    char node[32];
    snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
    return node;
}

std::string deviceRecord(const std::vector<int> &ports, int devnum, uint16_t vendor, uint16_t product)
{
    char num[8];
    snprintf(num, sizeof num, "%03d", devnum);
    const std::string node = devNodePath(devnum);
    std::string r;
    r += "P: " + sysfsPath(ports) + "\n";
    r += "N: " + node.substr(5) + "\n";
    r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n";
    r += "E: BUSNUM=001\nE: DEVNUM=" + std::string(num) + "\n";
    r += "E: DEVNAME=" + node + "\n";
    // sysfs attributes end in a newline, as the kernel writes them.
    r += "A: busnum=1\\n\nA: devnum=" + std::to_string(devnum) + "\\n\n";
    r += "A: speed=12\\n\nA: bConfigurationValue=1\\n\n";
    r += "H: descriptors=" + hex(descriptors(vendor, product)) + "\n";
    return r;
}

} // namespace sim

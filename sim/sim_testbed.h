// The emulated USB bus: a umockdev testbed holding a root hub, the hubs of
// each port path and the devices, with a usbfs ioctl handler per sensor so
// that an unmodified libusb enumerates, opens, claims and transfers.
//
// Create it before any other thread of the process exists: the testbed sets
// UMOCKDEV_DIR in the environment. Code that should see the emulated bus
// runs with libumockdev-preload (linked in, or LD_PRELOADed).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/sensor_ids.h"
#include "sim/ioctl_log.h"
#include "sim/sensor_model.h"

namespace sim {

struct DeviceDesc {
    std::vector<int> ports{1}; // port path from the root hub down
    uint16_t vendor = VL_SENSOR_VID;
    uint16_t product = VL_SENSOR_PID;
    bool kernelDriver = false; // a kernel driver holds interface 0 at plug-in
    bool plugged = true;
};

class SensorDevice;

class Testbed {
public:
    explicit Testbed(const std::vector<DeviceDesc> &devices = {DeviceDesc{}});
    ~Testbed();
    Testbed(const Testbed &) = delete;
    Testbed &operator=(const Testbed &) = delete;

    // Adds a device at run time (with its hubs); returns its index.
    int addDevice(const DeviceDesc &desc);
    int deviceCount() const;
    // Removes every device and hub but the root hub (with remove events);
    // device indices start again at 0.
    void reset();
    // The first device with the sensor's vendor and product, or -1.
    int firstSensor() const;

    // Unplug fails pending transfers with ENODEV and sends the remove event;
    // replug restores the device in its initial state and sends the add event.
    void unplug(int device);
    void replug(int device);
    bool plugged(int device) const;

    SensorModel &model(int device);
    bool kernelDriverBound(int device) const;
    bool interfaceClaimed(int device) const;
    std::string rootDir() const;
    // The device's description in umockdev's record format (the hubs on
    // its port path, then the device), as umockdev-record writes it of a
    // real device; and its device node.
    std::string description(int device) const;
    std::string devNode(int device) const;
    // Writes every URB the host gets back from the device to log.
    void record(int device, std::shared_ptr<IoctlLog> log);

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace sim

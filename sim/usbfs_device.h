// The usbfs side of one emulated device: answers the ioctls libusb issues on
// its device node (capabilities, driver query and detach, claim, URB submit,
// reap and discard) on behalf of a SensorModel.
#pragma once

#include <umockdev.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/ioctl_log.h"
#include "sim/sensor_model.h"

namespace sim {

class SensorDevice {
public:
    SensorDevice(std::string devNode, bool kernelDriver);
    ~SensorDevice();

    const std::string &devNode() const { return m_devNode; }
    UMockdevIoctlBase *handler() const { return m_handler; }
    SensorModel &model() { return m_model; }

    void setPlugged(bool plugged);
    // Every URB the host gets back from now on is also written to log.
    void record(std::shared_ptr<IoctlLog> log);
    bool plugged() const;
    bool kernelDriverBound() const;
    bool interfaceClaimed() const;

private:
    struct Urb {
        UMockdevIoctlClient *client;
        UMockdevIoctlData *data;
        bool discarded;
    };

    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);
    bool handle(UMockdevIoctlClient *client);
    void dropVanishedClients();
    void submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void claim(UMockdevIoctlClient *client, UMockdevIoctlData *arg, bool release);
    void driverQuery(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void driverIoctl(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    bool answerUrb(Urb &urb, UMockdevIoctlClient *client, UMockdevIoctlData *arg);

    const std::string m_devNode;
    const bool m_initialDriver;
    UMockdevIoctlBase *m_handler;
    SensorModel m_model;

    mutable std::mutex m_lock;
    bool m_plugged = true;
    bool m_driverBound;
    UMockdevIoctlClient *m_claimOwner = nullptr;
    std::vector<Urb> m_urbs;
    std::shared_ptr<IoctlLog> m_log;
};

} // namespace sim

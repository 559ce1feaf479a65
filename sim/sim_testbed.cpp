// The emulated USB bus: topology, plug and unplug.
#include "sim/sim_testbed.h"

#include <umockdev.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>

#include "sim/usb_topology.h"
#include "sim/usbfs_device.h"

namespace sim {

struct Testbed::Impl {
    struct Entry {
        DeviceDesc desc;
        int devnum;
        std::string record;
        std::unique_ptr<SensorDevice> usbfs; // null for devices that are not sensors
        bool plugged;
    };

    UMockdevTestbed *testbed = nullptr;
    std::map<std::vector<int>, int> hubs; // port path -> devnum
    std::map<std::vector<int>, std::string> hubRecords;
    std::vector<Entry> devices;
    int nextDevnum = 1;
    mutable std::mutex lock;

    void addRecord(const std::string &record)
    {
        GError *error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &error)) {
            std::string what = error ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("umockdev: " + what);
        }
    }

    // Hubs are added once and stay; each sends its add event.
    void ensureHub(const std::vector<int> &ports, bool announce)
    {
        if (hubs.count(ports))
            return;
        if (!ports.empty())
            ensureHub(std::vector<int>(ports.begin(), ports.end() - 1), announce);
        const int devnum = nextDevnum++;
        hubs[ports] = devnum;
        hubRecords[ports] = deviceRecord(ports, devnum, 0, 0);
        addRecord(hubRecords[ports]);
        if (announce)
            umockdev_testbed_uevent(testbed, ("/sys" + sysfsPath(ports)).c_str(), "add");
    }

    void plugIn(Entry &e, bool announce)
    {
        if (e.usbfs)
            e.usbfs->setPlugged(true);
        addRecord(e.record);
        e.plugged = true;
        if (announce)
            umockdev_testbed_uevent(testbed, ("/sys" + sysfsPath(e.desc.ports)).c_str(), "add");
    }

    Entry &at(int device)
    {
        if (device < 0 || device >= static_cast<int>(devices.size()))
            throw std::out_of_range("no such emulated device");
        return devices[static_cast<size_t>(device)];
    }
};

Testbed::Testbed(const std::vector<DeviceDesc> &devices) : m(new Impl)
{
    m->testbed = umockdev_testbed_new();
    if (!m->testbed)
        throw std::runtime_error("cannot create the umockdev testbed");
    m->ensureHub({}, false);
    for (const DeviceDesc &desc : devices) {
        std::lock_guard<std::mutex> guard(m->lock);
        Impl::Entry e{desc, 0, {}, nullptr, false};
        if (desc.ports.empty() || desc.ports.size() > 7)
            throw std::invalid_argument("a device needs a port path of 1 to 7 ports");
        m->ensureHub(std::vector<int>(desc.ports.begin(), desc.ports.end() - 1), false);
        e.devnum = m->nextDevnum++;
        e.record = deviceRecord(desc.ports, e.devnum, desc.vendor, desc.product);
        if (desc.vendor == VL_SENSOR_VID && desc.product == VL_SENSOR_PID) {
            e.usbfs = std::make_unique<SensorDevice>(devNodePath(e.devnum), desc.kernelDriver);
            // The handler is in place before the node appears, so an open
            // right after the add event already reaches it.
            GError *error = nullptr;
            if (!umockdev_testbed_attach_ioctl(m->testbed, e.usbfs->devNode().c_str(), e.usbfs->handler(), &error)) {
                g_clear_error(&error);
                throw std::runtime_error("cannot attach the usbfs handler");
            }
        }
        m->devices.push_back(std::move(e));
        Impl::Entry &added = m->devices.back();
        if (desc.plugged)
            m->plugIn(added, false);
        else if (added.usbfs)
            added.usbfs->setPlugged(false);
    }
}

Testbed::~Testbed()
{
    for (auto &e : m->devices)
        if (e.usbfs)
            umockdev_testbed_detach_ioctl(m->testbed, e.usbfs->devNode().c_str(), nullptr);
    g_object_unref(m->testbed);
    m->devices.clear();
}

int Testbed::addDevice(const DeviceDesc &desc)
{
    std::lock_guard<std::mutex> guard(m->lock);
    if (desc.ports.empty() || desc.ports.size() > 7)
        throw std::invalid_argument("a device needs a port path of 1 to 7 ports");
    m->ensureHub(std::vector<int>(desc.ports.begin(), desc.ports.end() - 1), true);
    Impl::Entry e{desc, m->nextDevnum++, {}, nullptr, false};
    e.record = deviceRecord(desc.ports, e.devnum, desc.vendor, desc.product);
    if (desc.vendor == VL_SENSOR_VID && desc.product == VL_SENSOR_PID) {
        e.usbfs = std::make_unique<SensorDevice>(devNodePath(e.devnum), desc.kernelDriver);
        umockdev_testbed_attach_ioctl(m->testbed, e.usbfs->devNode().c_str(), e.usbfs->handler(), nullptr);
    }
    m->devices.push_back(std::move(e));
    if (desc.plugged)
        m->plugIn(m->devices.back(), true);
    return static_cast<int>(m->devices.size()) - 1;
}

void Testbed::reset()
{
    std::lock_guard<std::mutex> guard(m->lock);
    for (auto it = m->devices.rbegin(); it != m->devices.rend(); ++it) {
        const std::string sys = "/sys" + sysfsPath(it->desc.ports);
        if (it->plugged) {
            if (it->usbfs)
                it->usbfs->setPlugged(false);
            umockdev_testbed_uevent(m->testbed, sys.c_str(), "remove");
            umockdev_testbed_remove_device(m->testbed, sys.c_str());
        }
        if (it->usbfs)
            umockdev_testbed_detach_ioctl(m->testbed, it->usbfs->devNode().c_str(), nullptr);
    }
    m->devices.clear();
    // Deepest hubs first; the root hub stays.
    for (auto it = m->hubs.rbegin(); it != m->hubs.rend();) {
        if (it->first.empty()) {
            ++it;
            continue;
        }
        const std::string sys = "/sys" + sysfsPath(it->first);
        umockdev_testbed_uevent(m->testbed, sys.c_str(), "remove");
        umockdev_testbed_remove_device(m->testbed, sys.c_str());
        it = std::make_reverse_iterator(m->hubs.erase(std::next(it).base()));
    }
}

int Testbed::deviceCount() const
{
    std::lock_guard<std::mutex> guard(m->lock);
    return static_cast<int>(m->devices.size());
}

int Testbed::firstSensor() const
{
    std::lock_guard<std::mutex> guard(m->lock);
    for (size_t i = 0; i < m->devices.size(); ++i)
        if (m->devices[i].usbfs)
            return static_cast<int>(i);
    return -1;
}

void Testbed::unplug(int device)
{
    std::lock_guard<std::mutex> guard(m->lock);
    Impl::Entry &e = m->at(device);
    if (!e.plugged)
        return;
    if (e.usbfs)
        e.usbfs->setPlugged(false);
    const std::string sys = "/sys" + sysfsPath(e.desc.ports);
    // The event is built from the device's sysfs entry, so it goes first.
    umockdev_testbed_uevent(m->testbed, sys.c_str(), "remove");
    umockdev_testbed_remove_device(m->testbed, sys.c_str());
    e.plugged = false;
}

void Testbed::replug(int device)
{
    std::lock_guard<std::mutex> guard(m->lock);
    Impl::Entry &e = m->at(device);
    if (!e.plugged)
        m->plugIn(e, true);
}

bool Testbed::plugged(int device) const
{
    std::lock_guard<std::mutex> guard(m->lock);
    return m->at(device).plugged;
}

SensorModel &Testbed::model(int device)
{
    std::lock_guard<std::mutex> guard(m->lock);
    Impl::Entry &e = m->at(device);
    if (!e.usbfs)
        throw std::invalid_argument("device is not a sensor");
    return e.usbfs->model();
}

bool Testbed::kernelDriverBound(int device) const
{
    std::lock_guard<std::mutex> guard(m->lock);
    const Impl::Entry &e = m->at(device);
    return e.usbfs && e.usbfs->kernelDriverBound();
}

bool Testbed::interfaceClaimed(int device) const
{
    std::lock_guard<std::mutex> guard(m->lock);
    const Impl::Entry &e = m->at(device);
    return e.usbfs && e.usbfs->interfaceClaimed();
}

std::string Testbed::description(int device) const
{
    std::lock_guard<std::mutex> guard(m->lock);
    const Impl::Entry &e = const_cast<Impl &>(*m).at(device);
    std::string out;
    for (size_t n = 0; n < e.desc.ports.size(); ++n) {
        const auto hub = m->hubRecords.find(std::vector<int>(e.desc.ports.begin(), e.desc.ports.begin() + n));
        if (hub != m->hubRecords.end())
            out += hub->second + "\n";
    }
    return out + e.record;
}

std::string Testbed::devNode(int device) const
{
    std::lock_guard<std::mutex> guard(m->lock);
    const Impl::Entry &e = const_cast<Impl &>(*m).at(device);
    return e.usbfs ? e.usbfs->devNode() : devNodePath(e.devnum);
}

void Testbed::record(int device, std::shared_ptr<IoctlLog> log)
{
    std::lock_guard<std::mutex> guard(m->lock);
    Impl::Entry &e = m->at(device);
    if (!e.usbfs)
        throw std::invalid_argument("device is not a sensor");
    e.usbfs->record(std::move(log));
}

std::string Testbed::rootDir() const
{
    gchar *dir = umockdev_testbed_get_root_dir(m->testbed);
    std::string out = dir ? dir : "";
    g_free(dir);
    return out;
}

} // namespace sim

// usbfs emulation for one device. The handler runs on the testbed's thread;
// the control side changes plug state and the model from another, hence the
// lock. A URB is only ever reaped by the client (open file) that submitted it,
// because its memory lives in that client.
#include "sim/usbfs_device.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

constexpr const char KERNEL_DRIVER_NAME[] = "vorl_kbd";
constexpr unsigned char EP_OUT = 0x01;
constexpr unsigned char EP_IN = 0x81;

bool debugEnabled() { return getenv("VORL2547_SIM_DEBUG") != nullptr; }

void fail(UMockdevIoctlClient *client, int err) { umockdev_ioctl_client_complete(client, -1, err); }
void succeed(UMockdevIoctlClient *client) { umockdev_ioctl_client_complete(client, 0, 0); }

} // namespace

SensorDevice::SensorDevice(std::string devNode, bool kernelDriver)
    : m_devNode(std::move(devNode)), m_initialDriver(kernelDriver), m_handler(umockdev_ioctl_base_new()),
      m_driverBound(kernelDriver)
{
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
}

SensorDevice::~SensorDevice()
{
    // Clients may outlive the device and keep the handler alive.
    g_signal_handlers_disconnect_by_data(m_handler, this);
    std::lock_guard<std::mutex> guard(m_lock);
    for (Urb &u : m_urbs) {
        umockdev_ioctl_data_unref(u.data);
        g_object_unref(u.client);
    }
    if (m_claimOwner)
        g_object_unref(m_claimOwner);
    g_object_unref(m_handler);
}

void SensorDevice::setPlugged(bool plugged)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_plugged = plugged;
    if (plugged) {
        // A device that comes back starts over, as after a real re-plug.
        m_driverBound = m_initialDriver;
        if (m_claimOwner)
            g_object_unref(m_claimOwner);
        m_claimOwner = nullptr;
    }
}

void SensorDevice::record(std::shared_ptr<IoctlLog> log)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_log = std::move(log);
}

bool SensorDevice::plugged() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_plugged;
}

bool SensorDevice::kernelDriverBound() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_driverBound;
}

bool SensorDevice::interfaceClaimed() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_claimOwner && umockdev_ioctl_client_get_connected(m_claimOwner);
}

gboolean SensorDevice::onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    return static_cast<SensorDevice *>(self)->handle(client);
}

// A closed device file gives up its claim and its URBs, as in the kernel.
void SensorDevice::dropVanishedClients()
{
    for (auto it = m_urbs.begin(); it != m_urbs.end();) {
        if (umockdev_ioctl_client_get_connected(it->client)) {
            ++it;
            continue;
        }
        umockdev_ioctl_data_unref(it->data);
        g_object_unref(it->client);
        it = m_urbs.erase(it);
    }
    if (m_claimOwner && !umockdev_ioctl_client_get_connected(m_claimOwner)) {
        g_object_unref(m_claimOwner);
        m_claimOwner = nullptr;
    }
}

bool SensorDevice::handle(UMockdevIoctlClient *client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> guard(m_lock);
    dropVanishedClients();

    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        reap(client, arg);
        return TRUE;
    }
    if (!m_plugged) {
        fail(client, ENODEV);
        return TRUE;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32 *>(caps->data) = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        if (m_log)
            m_log->capabilities(*reinterpret_cast<guint32 *>(caps->data));
        succeed(client);
        umockdev_ioctl_data_unref(caps);
        return TRUE;
    }
    case USBDEVFS_GETDRIVER: driverQuery(client, arg); return TRUE;
    case USBDEVFS_IOCTL: driverIoctl(client, arg); return TRUE;
    case USBDEVFS_CLAIMINTERFACE: claim(client, arg, false); return TRUE;
    case USBDEVFS_RELEASEINTERFACE: claim(client, arg, true); return TRUE;
    case USBDEVFS_SUBMITURB: submit(client, arg); return TRUE;
    case USBDEVFS_DISCARDURB: discard(client, arg); return TRUE;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
    case USBDEVFS_SETINTERFACE: succeed(client); return TRUE;
    default:
        if (debugEnabled())
            fprintf(stderr, "vorl2547-sim: unhandled usbfs ioctl 0x%lx\n", request);
        fail(client, ENOTTY);
        return TRUE;
    }
}

void SensorDevice::driverQuery(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
    auto *query = reinterpret_cast<usbdevfs_getdriver *>(d->data);
    if (query->interface != 0) {
        fail(client, EINVAL);
    } else if (m_driverBound) {
        snprintf(query->driver, sizeof query->driver, "%s", KERNEL_DRIVER_NAME);
        succeed(client);
    } else if (m_claimOwner) {
        snprintf(query->driver, sizeof query->driver, "usbfs");
        succeed(client);
    } else {
        fail(client, ENODATA);
    }
    umockdev_ioctl_data_unref(d);
}

void SensorDevice::driverIoctl(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
    const auto *cmd = reinterpret_cast<const usbdevfs_ioctl *>(d->data);
    if (cmd->ifno != 0) {
        fail(client, EINVAL);
    } else if (cmd->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
        if (m_driverBound) {
            m_driverBound = false;
            succeed(client);
        } else {
            fail(client, ENODATA);
        }
    } else if (cmd->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
        m_driverBound = m_initialDriver && !m_claimOwner;
        succeed(client);
    } else {
        fail(client, ENOTTY);
    }
    umockdev_ioctl_data_unref(d);
}

void SensorDevice::claim(UMockdevIoctlClient *client, UMockdevIoctlData *arg, bool release)
{
    UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
    const unsigned int iface = *reinterpret_cast<const unsigned int *>(d->data);
    umockdev_ioctl_data_unref(d);
    if (iface != 0) {
        fail(client, release ? EINVAL : ENOENT);
        return;
    }
    if (release) {
        if (m_claimOwner != client) {
            fail(client, EINVAL);
            return;
        }
        g_object_unref(m_claimOwner);
        m_claimOwner = nullptr;
        succeed(client);
        return;
    }
    if (m_claimOwner == client) {
        succeed(client);
        return;
    }
    if (m_driverBound || m_claimOwner) {
        fail(client, EBUSY);
        return;
    }
    m_claimOwner = static_cast<UMockdevIoctlClient *>(g_object_ref(client));
    succeed(client);
}

void SensorDevice::submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    auto *urb = reinterpret_cast<usbdevfs_urb *>(data->data);
    const bool bulk = urb->type == USBDEVFS_URB_TYPE_BULK;
    if (!bulk || (urb->endpoint != EP_OUT && urb->endpoint != EP_IN) || urb->buffer_length < 0) {
        umockdev_ioctl_data_unref(data);
        fail(client, EINVAL);
        return;
    }
    if (urb->buffer_length > 0) {
        UMockdevIoctlData *buf =
            umockdev_ioctl_data_resolve(data, G_STRUCT_OFFSET(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
        if (buf)
            umockdev_ioctl_data_unref(buf); // the URB keeps the resolved copy
    }
    if (urb->endpoint == EP_OUT)
        m_model.hostWrote(static_cast<const uint8_t *>(urb->buffer), static_cast<size_t>(urb->buffer_length));
    m_urbs.push_back(Urb{static_cast<UMockdevIoctlClient *>(g_object_ref(client)), data, false});
    succeed(client);
}

// Fills in the URB's result and hands it back through the reap argument.
// Returns false when the URB has nothing to report yet.
bool SensorDevice::answerUrb(Urb &u, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    auto *urb = reinterpret_cast<usbdevfs_urb *>(u.data->data);
    int status = 0;
    int actual = 0;
    if (u.discarded) {
        status = -ENOENT;
    } else if (!m_plugged) {
        status = -ENODEV;
    } else if (urb->endpoint == EP_OUT) {
        if (m_model.writesHeld())
            return false;
        actual = urb->buffer_length;
    } else {
        InReply reply = m_model.pollIn(static_cast<size_t>(urb->buffer_length));
        if (!reply.ready)
            return false;
        status = reply.status;
        actual = static_cast<int>(reply.bytes.size());
        if (actual > 0)
            memcpy(urb->buffer, reply.bytes.data(), reply.bytes.size());
    }
    urb->status = status;
    urb->actual_length = actual;
    // A discarded URB (a timeout or a cancel) says when, not what: a replay
    // answers at once, so it is left out of the recording.
    if (m_log && !u.discarded)
        m_log->reaped(umockdev_ioctl_client_get_request(client) == USBDEVFS_REAPURBNDELAY, *urb,
                      static_cast<const uint8_t *>(urb->buffer));
    UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
    umockdev_ioctl_data_set_ptr(slot, 0, u.data);
    succeed(client);
    umockdev_ioctl_data_unref(slot);
    return true;
}

void SensorDevice::reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    for (auto it = m_urbs.begin(); it != m_urbs.end(); ++it) {
        if (it->client != client || !answerUrb(*it, client, arg))
            continue;
        umockdev_ioctl_data_unref(it->data);
        g_object_unref(it->client);
        m_urbs.erase(it);
        return;
    }
    // The emulated node always polls ready, so libusb asks again at once;
    // a short pause keeps its event loop from spinning a core.
    const bool plugged = m_plugged;
    m_lock.unlock();
    g_usleep(1000);
    m_lock.lock();
    fail(client, plugged ? EAGAIN : ENODEV);
}

void SensorDevice::discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    const gulong target = *reinterpret_cast<const gulong *>(arg->data);
    for (Urb &u : m_urbs) {
        if (u.client == client && u.data->client_addr == target && !u.discarded) {
            u.discarded = true;
            succeed(client);
            return;
        }
    }
    fail(client, EINVAL);
}

} // namespace sim

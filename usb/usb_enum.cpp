// Finding sensors on the bus and naming them by their port path.
#include <cstdio>
#include <cstring>
#include <memory>

#include "log/log.h"
#include "protocol/sensor_ids.h"
#include "usb/vlUsb.h"

int ssDevIdString(const uint8_t *ports, int portCount, char *out, int outSize)
{
    if (outSize <= 0)
        return 0;
    int len = snprintf(out, outSize, "%s", VL_DEV_ID_PREFIX);
    for (int i = 0; i < portCount && i < SS_MAX_PORTS && len < outSize; ++i)
        len += snprintf(out + len, outSize - len, ".%02X", ports[i]);
    return len < outSize ? len : outSize - 1;
}

namespace {

// Appends one NUL-terminated entry when it fits with room left for the list's
// closing empty entry; returns the new write position.
int appendEntry(char *list, int listSize, int pos, const char *entry)
{
    const int need = static_cast<int>(strlen(entry)) + 1;
    if (pos + need + 1 > listSize)
        return pos;
    memcpy(list + pos, entry, need);
    return pos + need;
}

void endList(char *list, int listSize, int pos)
{
    if (list && pos < listSize)
        list[pos] = '\0';
}

} // namespace

namespace {

struct DeviceListFree {
    void operator()(libusb_device **list) const { libusb_free_device_list(list, 1); }
};
// libusb's device list, each device's reference dropped with the list.
using DeviceList = std::unique_ptr<libusb_device *[], DeviceListFree>;

} // namespace

int _ssUlstFind(const char *id, char *list, int listSize, int vid, int pid)
{
    const int vendor = vid ? vid : ss_Vid;
    const int product = pid ? pid : ss_Pid;
    if (!list)
        listSize = 0;

    if (libusb_init(nullptr) < 0) {
        vllogstr("failed to initialise libusb\n");
        return -3;
    }
    libusb_device **raw = nullptr;
    const ssize_t n = libusb_get_device_list(nullptr, &raw);
    // Null when the call failed: nothing to free then.
    const DeviceList devs(n < 0 ? nullptr : raw);
    if (n <= 0) {
        vllogstr("get device error\n");
        return -4;
    }

    int count = 0;
    int lastStatus = 0;
    int pos = 0;
    libusb_device_descriptor desc;
    memset(&desc, 0, sizeof desc);
    for (ssize_t i = 0; i < n; ++i) {
        lastStatus = libusb_get_device_descriptor(devs[i], &desc);
        if (lastStatus < 0) {
            // Skipped: the descriptor buffer still holds the previous
            // device's values, which would count that device twice.
            vllogstr("get device descriptor error\n");
            continue;
        }
        if (desc.idVendor != vendor || desc.idProduct != product)
            continue;

        ++count;
        uint8_t ports[SS_MAX_PORTS];
        lastStatus = libusb_get_port_numbers(devs[i], ports, SS_MAX_PORTS);
        char devId[SS_DEV_ID_SIZE];
        ssDevIdString(ports, lastStatus > 0 ? lastStatus : 0, devId, sizeof devId);

        if (id) {
            if (strcmp(devId, id) == 0)
                return 0;
            continue;
        }
        if (list)
            pos = appendEntry(list, listSize, pos, devId);
        if (lastStatus == 0) {
            endList(list, listSize, pos);
            return count;
        }
        ss_Vid = vendor;
        ss_Pid = product;
    }
    endList(list, listSize, pos);
    return lastStatus < 0 ? -13 : count;
}

int ssUsblst(char *list, int listSize, int vid, int pid) { return _ssUlstFind(nullptr, list, listSize, vid, pid); }

int ssUsbFind(const char *id) { return _ssUlstFind(id, nullptr, 0, 0, 0); }

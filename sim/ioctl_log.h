// The emulated sensor's side of a conversation, written as umockdev writes
// the ioctls of a real device (umockdev-record --ioctl): one
// USBDEVFS_REAPURB(NDELAY) line per URB the host got back, with its data, after an
// "@DEV <node>" line. umockdev-run --ioctl and umockdev_testbed_load_ioctl()
// replay such a file, so a recording of the emulator and one of a real
// sensor take the same road through the tests.
//
// umockdev-record itself cannot record the emulator: it needs the real
// device node and sysfs entry outside any testbed.
#pragma once

#include <linux/usbdevice_fs.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace sim {

class IoctlLog {
public:
    // Starts the log at path for the device node devNode; throws on failure.
    IoctlLog(const std::string &path, const std::string &devNode);
    ~IoctlLog();
    IoctlLog(const IoctlLog &) = delete;
    IoctlLog &operator=(const IoctlLog &) = delete;

    // The capabilities libusb asks for when it opens the device; written once.
    void capabilities(uint32_t caps);
    // A URB as reaped (with USBDEVFS_REAPURB or, as libusb does,
    // USBDEVFS_REAPURBNDELAY: a replay answers only the request recorded): IN URBs with the actual_length bytes
    // received, OUT URBs with every byte sent. Each line is flushed at once, so a log cut short by a kill still replays
    // up to there.
    void reaped(bool noDelay, const usbdevfs_urb &urb, const uint8_t *data);

private:
    std::mutex m_lock;
    FILE *m_file;
    bool m_capsWritten = false;
};

} // namespace sim

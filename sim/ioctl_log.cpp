// umockdev's text format for usbdevfs ioctls: "NAME RET FIELDS... HEXDATA".
#include "sim/ioctl_log.h"

#include <stdexcept>

namespace sim {

IoctlLog::IoctlLog(const std::string &path, const std::string &devNode) : m_file(fopen(path.c_str(), "w"))
{
    if (!m_file)
        throw std::runtime_error("cannot write " + path);
    fprintf(m_file, "@DEV %s\n", devNode.c_str());
    fflush(m_file);
}

IoctlLog::~IoctlLog() { fclose(m_file); }

void IoctlLog::capabilities(uint32_t caps)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_capsWritten)
        return;
    m_capsWritten = true;
    // The struct's bytes as they lie in memory (little-endian here).
    fprintf(m_file, "USBDEVFS_GET_CAPABILITIES 0 %02X%02X%02X%02X\n", caps & 0xFF, (caps >> 8) & 0xFF,
            (caps >> 16) & 0xFF, caps >> 24);
    fflush(m_file);
}

void IoctlLog::reaped(bool noDelay, const usbdevfs_urb &urb, const uint8_t *data)
{
    std::lock_guard<std::mutex> guard(m_lock);
    fprintf(m_file, "%s 0 %u %u %d %u %d %d %d ", noDelay ? "USBDEVFS_REAPURBNDELAY" : "USBDEVFS_REAPURB",
            static_cast<unsigned>(urb.type), static_cast<unsigned>(urb.endpoint), urb.status, urb.flags,
            urb.buffer_length, urb.actual_length, urb.error_count);
    const int length = (urb.endpoint & 0x80) ? urb.actual_length : urb.buffer_length;
    for (int i = 0; data && i < length; ++i)
        fprintf(m_file, "%02X", data[i]);
    fputc('\n', m_file);
    fflush(m_file);
}

} // namespace sim

// Blocking bulk transfers in 64-byte packets.
#include <cstdint>
#include <cstring>
#include <mutex>

#include "log/log.h"
#include "usb/transfer_turn.h"
#include "usb/vlUsb.h"

namespace {

constexpr int SS_PACKET = 64;
constexpr unsigned char SS_EP_OUT = 0x01;
constexpr unsigned char SS_EP_IN = 0x81;
constexpr int SS_FRAME_BYTES = 13824;

unsigned char s_buf[1024];

int sendHeld(libusb_device_handle *handle, const unsigned char *data, int length)
{
    for (int sent = 0; sent < length;) {
        const int remain = length - sent;
        const int packet = remain >= SS_PACKET ? SS_PACKET : remain;
        unsigned char *from = const_cast<unsigned char *>(data + sent);
        if (packet < SS_PACKET) {
            memset(s_buf, 0, SS_PACKET);
            memcpy(s_buf, data + sent, packet);
            from = s_buf;
        }
        int done = 0;
        const int r = libusb_bulk_transfer(handle, SS_EP_OUT, from, packet, &done, m_msWait);
        if (r < 0 || done < packet) {
            vllogstr("write error!\n");
            return -1;
        }
        sent += packet;
    }
    return 0;
}

int receiveHeld(libusb_device_handle *handle, unsigned char *buf, int *length, unsigned seconds)
{
    const uint16_t expected = length ? static_cast<uint16_t>(*length & 0xFFFF) : SS_FRAME_BYTES;
    const unsigned timeout = seconds ? seconds * 1000 : static_cast<unsigned>(m_msWait.load());
    uint16_t received = 0;
    for (;;) {
        int got = 0;
        if (libusb_bulk_transfer(handle, SS_EP_IN, s_buf, SS_PACKET, &got, timeout) < 0) {
            vllogstr("failed to read \n");
            return -2;
        }
        const int missing = expected - received;
        const int keep = got < missing ? got : missing;
        if (buf && keep > 0) {
            memcpy(buf, s_buf, keep);
            buf += keep;
        }
        received = static_cast<uint16_t>(received + keep);
        if (received >= expected) {
            if (length)
                *length = expected;
            return 0;
        }
    }
}

} // namespace

int ssUsbTxd(libusb_device_handle *, const unsigned char *data, int length)
{
    std::lock_guard<TransferTurn> turn(ssTransferTurn());
    libusb_device_handle *handle = m_dev_handle.load();
    if (!handle)
        return -1;
    if (length <= 0)
        return 0;
    return sendHeld(handle, data, length);
}

int ssUsbRxd(libusb_device_handle *, unsigned char *buf, int *length, unsigned seconds)
{
    std::lock_guard<TransferTurn> turn(ssTransferTurn());
    libusb_device_handle *handle = m_dev_handle.load();
    if (!handle)
        return -1;
    return receiveHeld(handle, buf, length, seconds);
}

int ssUsbTxRx(libusb_device_handle *, const unsigned char *data, int length, unsigned char *rxBuf, int *rxLength)
{
    std::lock_guard<TransferTurn> turn(ssTransferTurn());
    libusb_device_handle *handle = m_dev_handle.load();
    if (!handle)
        return -1;
    if (length > 0) {
        const int r = sendHeld(handle, data, length);
        if (r != 0)
            return r;
    }
    return receiveHeld(handle, rxBuf, rxLength, 0);
}

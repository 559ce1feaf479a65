// Opening the sensor, claiming interface 0, and letting it go again.
#include <mutex>

#include "log/log.h"
#include "usb/transfer_turn.h"
#include "usb/vlUsb.h"

namespace {

constexpr int SS_INTERFACE = 0;

int closeHeld()
{
    libusb_device_handle *handle = m_dev_handle.load();
    if (!handle)
        return -1;
    if (libusb_release_interface(handle, SS_INTERFACE) != 0)
        vllogstr("Cannot Released Interface!\n");
    m_dev_handle = nullptr;
    libusb_close(handle);
    libusb_exit(nullptr);
    m_ctx = nullptr;
    return 0;
}

} // namespace

int ssUsbOpen()
{
    std::lock_guard<TransferTurn> turn(ssTransferTurn());
    if (libusb_init(nullptr) < 0) {
        vllogstr("failed to initialise libusb\n");
        return -3;
    }
    // A second open would otherwise lose the first handle and its claim.
    closeHeld();

    libusb_device_handle *handle =
        libusb_open_device_with_vid_pid(nullptr, static_cast<uint16_t>(ss_Vid), static_cast<uint16_t>(ss_Pid));
    if (!handle) {
        vllogstr("Cannot open device\n");
        return -1;
    }
    m_dev_handle = handle;
    if (libusb_kernel_driver_active(handle, SS_INTERFACE) == 1)
        libusb_detach_kernel_driver(handle, SS_INTERFACE);
    if (libusb_claim_interface(handle, SS_INTERFACE) < 0) {
        vllogstr("Cannot Claim Interface\n");
        closeHeld();
        return -6;
    }
    return 0;
}

int ssUsbClose()
{
    std::lock_guard<TransferTurn> turn(ssTransferTurn());
    return closeHeld();
}

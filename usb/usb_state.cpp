// Module state shared by discovery, open/close and the transfers.
#include "protocol/sensor_ids.h"
#include "usb/transfer_turn.h"
#include "usb/vlUsb.h"

int ss_Vid = VL_SENSOR_VID;
int ss_Pid = VL_SENSOR_PID;
std::atomic<int> m_msWait{3000};
libusb_context *m_ctx = nullptr;
std::atomic<libusb_device_handle *> m_dev_handle{nullptr};

TransferTurn &ssTransferTurn()
{
    static TransferTurn turn;
    return turn;
}

int ssUsbTimeout(unsigned ms)
{
    m_msWait = ms == 0 ? 3000 : static_cast<int>(ms);
    return 0;
}

int ssUsbGetStat() { return 0; }

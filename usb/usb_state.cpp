// Module state shared by discovery, open/close and the transfers.
#include "usb/transfer_turn.h"
#include "usb/vlUsb.h"

int ss_Vid = 0x2541;
int ss_Pid = 0x2547;
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

// USB transport of the sensor: discovery, open and claim, release, and bulk
// transfers, synchronous (64-byte packets) and asynchronous (one transfer
// driven by a short-lived event thread). Everything works on libusb's default
// context and on the one open handle m_dev_handle.
#pragma once

#include <libusb.h>

#include <atomic>

// Vendor and product the open looks for; the enumeration uses them when its
// vendor or product argument is 0.
extern int ss_Vid;
extern int ss_Pid;
// Timeout of the synchronous transfers and of the asynchronous send, in ms.
extern std::atomic<int> m_msWait;
// Always null: every call goes to the default context.
extern libusb_context *m_ctx;
// The open sensor, interface 0 claimed; null while closed.
extern std::atomic<libusb_device_handle *> m_dev_handle;

inline constexpr int SS_DEV_ID_SIZE = 128;
inline constexpr int SS_MAX_PORTS = 8;
// Size of the list buffer that vlLstDev and vlOpenDev hand to the enumeration.
inline constexpr int SS_DEV_LIST_SIZE = 128;

// Writes the ID for a port path (root port first) into out: VL_DEV_ID_PREFIX
// and ".%02X" per port. Returns its length.
int ssDevIdString(const uint8_t *ports, int portCount, char *out, int outSize);

// Enumeration. With a list buffer of listSize bytes, the IDs found are
// appended NUL-terminated and the list ends with an empty entry; IDs that do
// not fit are left out but still counted. Vendor or product 0 mean ss_Vid or
// ss_Pid. Returns the count, or -3 (init), -4 (no device list), -13 (last
// device unreadable).
int _ssUlstFind(const char *id, char *list, int listSize, int vid, int pid);
int ssUsblst(char *list, int listSize, int vid, int pid);
// 0 when a sensor has exactly this ID, else the number of sensors (or -3, -4, -13).
int ssUsbFind(const char *id);

// 0, -3 (init), -1 (no sensor / cannot open), -6 (interface 0 not claimable).
int ssUsbOpen();
// 0, or -1 when nothing is open. Waits for a transfer in progress to end.
int ssUsbClose();
// Sets m_msWait to ms, or to 3000 for 0. Returns 0.
int ssUsbTimeout(unsigned ms);
int ssUsbGetStat();

// Synchronous transfers in 64-byte packets; the first argument is not read.
int ssUsbTxd(libusb_device_handle *dev, const unsigned char *data, int length);
int ssUsbRxd(libusb_device_handle *dev, unsigned char *buf, int *length, unsigned seconds);
int ssUsbTxRx(libusb_device_handle *dev, const unsigned char *data, int length, unsigned char *rxBuf, int *rxLength);

// Completion codes of an asynchronous transfer.
enum XferCode {
    XFER_RUNNING = 0,
    XFER_ABORT = 1,
    XFER_FAILED = 2,
    XFER_OTHER = 4,
    XFER_TIMEOUT = 7,
    XFER_CANCELLED = 8,
    XFER_DONE = 100,
};
extern std::atomic<int> m_do_exit;

// Asynchronous transfers. One runs at a time in the process; a second caller
// waits for its turn (first come, first served). The first argument is not read.
//   send:    0, -1 (closed / no record), -2 (refused or zero length), -11, -12, -20
//   receive: 0, 7 (timeout), 8 (cancelled), and the same negative results
int ssUsbTxAsyn(libusb_device_handle *dev, const unsigned char *data, int length);
int ssUsbRxdAsyn(libusb_device_handle *dev, unsigned char *buf, const int *length, int seconds);
// Ends the transfer in progress with XFER_CANCELLED; any thread, returns 0.
int ssCancelRx();
// True while a receive is submitted and not yet collected.
bool ssUsbRxPending();

// Completion handlers and event-thread body (exposed for the record).
void tx_cb(libusb_transfer *transfer);
void callbackRevc(libusb_transfer *transfer);
void *poll_thread_main(void *);

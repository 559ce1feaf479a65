// Asynchronous bulk transfers: one libusb transfer, an event thread that runs
// libusb's event handling while it is in flight, and a semaphore on which the
// caller waits for a completion code.
#include <pthread.h>
#include <semaphore.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "usb/transfer_turn.h"
#include "usb/vlUsb.h"

std::atomic<int> m_do_exit{XFER_RUNNING};

namespace {

constexpr unsigned char SS_EP_OUT = 0x01;
constexpr unsigned char SS_EP_IN = 0x81;
// How long a transfer that was cancelled or abandoned may take to come back
// from libusb before its record is given up (and left allocated).
constexpr auto SETTLE_LIMIT = std::chrono::seconds(10);

sem_t m_exit_sem;
pthread_t m_poll_thread;

// Guards what ssCancelRx touches from another thread: the pending receive
// record and whether the semaphore may be posted.
std::mutex s_pendingLock;
libusb_transfer *m_rx_transfer = nullptr;
bool s_semLive = false;

void usbOut(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void usbOut(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    fflush(stdout);
}

// The first code of a transfer wins; later ones (a completion that arrives
// after a cancel, say) only wake the waiter.
void postCode(int code)
{
    int expected = XFER_RUNNING;
    m_do_exit.compare_exchange_strong(expected, code);
    // Only the event thread and the submitting call get here, both while the
    // semaphore lives.
    sem_post(&m_exit_sem);
}

void markCompleted(libusb_transfer *transfer)
{
    if (transfer->user_data)
        *static_cast<int *>(transfer->user_data) = 1;
}

void setPendingRx(libusb_transfer *transfer)
{
    std::lock_guard<std::mutex> guard(s_pendingLock);
    m_rx_transfer = transfer;
}

void setSemLive(bool live)
{
    std::lock_guard<std::mutex> guard(s_pendingLock);
    s_semLive = live;
}

void endEventThread(int code)
{
    m_do_exit = code;
    sem_post(&m_exit_sem);
    pthread_join(m_poll_thread, nullptr);
    setSemLive(false);
    sem_destroy(&m_exit_sem);
}

// Keeps handling events until libusb has handed the record back, so that its
// completion never runs inside a later transfer, then frees it.
void settleRecord(libusb_transfer *transfer, int *completed)
{
    if (!*completed) {
        libusb_cancel_transfer(transfer);
        const auto deadline = std::chrono::steady_clock::now() + SETTLE_LIMIT;
        while (!*completed && std::chrono::steady_clock::now() < deadline) {
            timeval tv{0, 100000};
            libusb_handle_events_timeout_completed(nullptr, &tv, completed);
        }
    }
    if (*completed)
        libusb_free_transfer(transfer);
    else
        usbOut("transfer not returned by libusb, record left allocated\n");
}

int waitForCode()
{
    for (;;) {
        const int code = m_do_exit.load();
        if (code != XFER_RUNNING)
            return code;
        while (sem_wait(&m_exit_sem) != 0 && errno == EINTR) {
        }
    }
}

int runTransfer(bool receive, unsigned char *buf, int length, unsigned timeoutMs)
{
    if (!m_dev_handle.load())
        return -1;
    std::lock_guard<TransferTurn> turn(ssTransferTurn());
    libusb_device_handle *handle = m_dev_handle.load();
    if (!handle)
        return -1;
    // Nothing would ever complete a transfer that was never submitted.
    if (length <= 0)
        return -2;

    m_do_exit = XFER_RUNNING;
    if (sem_init(&m_exit_sem, 0, 0) != 0)
        return -12;
    setSemLive(true);
    if (pthread_create(&m_poll_thread, nullptr, poll_thread_main, nullptr) != 0) {
        setSemLive(false);
        sem_destroy(&m_exit_sem);
        return -11;
    }
    libusb_transfer *transfer = libusb_alloc_transfer(0);
    if (!transfer) {
        endEventThread(XFER_ABORT);
        return -1;
    }
    int completed = 0;
    libusb_fill_bulk_transfer(transfer, handle, receive ? SS_EP_IN : SS_EP_OUT, buf, length,
                              receive ? callbackRevc : tx_cb, &completed, timeoutMs);
    if (receive)
        setPendingRx(transfer);
    if (libusb_submit_transfer(transfer) < 0) {
        setPendingRx(nullptr);
        libusb_free_transfer(transfer);
        endEventThread(XFER_ABORT);
        return -2;
    }

    const int code = waitForCode();
    pthread_join(m_poll_thread, nullptr);
    setPendingRx(nullptr);
    settleRecord(transfer, &completed);
    setSemLive(false);
    sem_destroy(&m_exit_sem);

    if (code == XFER_DONE)
        return 0;
    if (receive && (code == XFER_TIMEOUT || code == XFER_CANCELLED))
        return code;
    return -20;
}

} // namespace

void *poll_thread_main(void *)
{
    usbOut("poll thread running\n");
    while (m_do_exit.load() == XFER_RUNNING) {
        timeval tv{1, 0};
        const int r = libusb_handle_events_timeout(nullptr, &tv);
        if (r < 0) {
            usbOut("libusb_handle_events_timeout %d\n", r);
            postCode(XFER_FAILED);
            break;
        }
    }
    usbOut("poll thread shutting down %d\n", m_do_exit.load());
    return nullptr;
}

void tx_cb(libusb_transfer *transfer)
{
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED && transfer->actual_length == transfer->length) {
        usbOut("tx_cb success\n");
        postCode(XFER_DONE);
    } else {
        usbOut("tx_cb failed\n");
        postCode(XFER_FAILED);
    }
    markCompleted(transfer);
}

void callbackRevc(libusb_transfer *transfer)
{
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
        usbOut("RX complete len=%d, actuallen=%d\n", transfer->length, transfer->actual_length);
        postCode(XFER_DONE);
        break;
    case LIBUSB_TRANSFER_TIMED_OUT:
        usbOut("rx cb time out\n");
        postCode(XFER_TIMEOUT);
        break;
    case LIBUSB_TRANSFER_CANCELLED:
        usbOut("rx cb canceled\n");
        postCode(XFER_CANCELLED);
        break;
    default: postCode(XFER_OTHER); break;
    }
    markCompleted(transfer);
}

int ssUsbTxAsyn(libusb_device_handle *, const unsigned char *data, int length)
{
    return runTransfer(false, const_cast<unsigned char *>(data), length, static_cast<unsigned>(m_msWait.load()));
}

int ssUsbRxdAsyn(libusb_device_handle *, unsigned char *buf, const int *length, int seconds)
{
    const int wanted = length ? (*length & 0xFFFF) : 0;
    const unsigned timeoutMs = seconds > 0 ? static_cast<unsigned>(seconds) * 1000u : 0u;
    return runTransfer(true, buf, wanted, timeoutMs);
}

bool ssUsbRxPending()
{
    std::lock_guard<std::mutex> guard(s_pendingLock);
    return m_rx_transfer != nullptr;
}

int ssCancelRx()
{
    std::lock_guard<std::mutex> guard(s_pendingLock);
    if (m_rx_transfer)
        libusb_cancel_transfer(m_rx_transfer);
    m_do_exit = XFER_CANCELLED;
    if (s_semLive)
        sem_post(&m_exit_sem);
    return 0;
}

#include "engine/worker.h"

#include <mutex>

#include "engine/capture_ring.h"
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "protocol/sensor_frames.h"
#include "usb/vlUsb.h"

std::atomic<pthread_t> m_thrdHdlEnroll{0};
std::atomic<pthread_t> m_thrdHdlVerify{0};

namespace {

std::atomic<int> s_running{WORKER_NONE};
// The running worker has sent its final signal.
std::atomic<bool> s_answered{false};
// Guards the handle of the last worker started, which is joined exactly once.
std::mutex s_mutex;
pthread_t s_thread;
bool s_joinable = false;

void joinLocked()
{
    if (s_joinable) {
        pthread_join(s_thread, nullptr);
        s_joinable = false;
    }
}

} // namespace

bool isWorkerRunning()
{
    if (s_answered.load()) {
        std::lock_guard lock(s_mutex);
        joinLocked();
    }
    return s_running.load() != WORKER_NONE;
}

void workerAnswered() { s_answered = true; }

int startWorker(WorkerKind kind, void *(*body)(void *))
{
    std::lock_guard lock(s_mutex);
    int expected = WORKER_NONE;
    if (!s_running.compare_exchange_strong(expected, kind))
        return -1;
    joinLocked();
    pthread_t thread;
    if (pthread_create(&thread, nullptr, body, nullptr) != 0) {
        s_running = WORKER_NONE;
        return -2;
    }
    // The worker publishes its own handle when it starts and clears it when it
    // ends; this copy is only for the join.
    s_thread = thread;
    s_joinable = true;
    return 0;
}

int startRun(WorkerKind kind, void *(*body)(void *), std::atomic<int> &exitFlag)
{
    exitFlag = 0;
    int started = startWorker(kind, body);
    if (started == -2)
        vllogstr("CreateThread err");
    return started;
}

int stopRun(std::atomic<int> &exitFlag)
{
    exitFlag = 1;
    ssCancelRx();
    ssUsbTxAsyn(nullptr, m_capture_end_cmd, sizeof m_capture_end_cmd);
    return 0;
}

void workerStarted(WorkerKind kind) { (kind == WORKER_ENROLL ? m_thrdHdlEnroll : m_thrdHdlVerify) = pthread_self(); }

void workerFinished(WorkerKind kind)
{
    (kind == WORKER_ENROLL ? m_thrdHdlEnroll : m_thrdHdlVerify) = 0;
    s_answered = false;
    s_running = WORKER_NONE;
}

void runCaptureLoop(const CaptureMode &mode)
{
    // A person takes a while to touch the sensor; each wait is short so that
    // a stop is noticed soon.
    constexpr int CAPTURE_TIMEOUT_S = 3;
    workerStarted(mode.kind);
    int ret = 0;
    int frames = 0;
    for (;;) {
        ret = ssUsbTxAsyn(nullptr, mode.beginCommand, VL_CMD_SIZE);
        if (ret != 0) {
            _vllog("%s tx fail", mode.name);
            mode.sendFailed();
            break;
        }
        int len = VL_FRAME_SIZE;
        ret = ssUsbRxdAsyn(nullptr, g_imgbuf, &len, CAPTURE_TIMEOUT_S);
        if (ret == 0) {
            if (mode.onFrame(++frames, ret))
                break;
        } else if (ret == XFER_TIMEOUT || ret == XFER_CANCELLED) {
            _vllog("%s timeout %d", mode.name, ret);
        }
        if (mode.exitFlag->load() != 0) {
            vllogstr(mode.stopLine);
            mode.stopped();
            break;
        }
    }
    _vllog("%s thread exit %x", mode.name, static_cast<unsigned>(ret));
    workerFinished(mode.kind);
}

void stopWorkerAndWait()
{
    // A worker that has answered ends by itself, soon.
    switch (s_answered.load() ? WORKER_NONE : s_running.load()) {
    case WORKER_ENROLL: vlStopEnroll(); break;
    case WORKER_VERIFY: vlStopVerify(); break;
    default: break;
    }
    std::lock_guard lock(s_mutex);
    joinLocked();
}

bool vlRunActive() { return isWorkerRunning(); }

int vlStopWorker()
{
    stopWorkerAndWait();
    return 0;
}

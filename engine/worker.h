// One worker at a time. Enrollment and verification share the capture ring,
// the feature buffers and the transfer layer, so a second worker is refused,
// and a claim or release first stops the running worker and waits for it.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

enum WorkerKind { WORKER_NONE = 0, WORKER_ENROLL = 1, WORKER_VERIFY = 2 };

// Handles of the running workers, 0 while none runs. The worker clears its
// own when it ends.
extern std::atomic<pthread_t> m_thrdHdlEnroll;
extern std::atomic<pthread_t> m_thrdHdlVerify;

// True while an enrollment or verification worker has not ended. A worker
// that has sent its final signal and only tidies up is waited for instead.
bool isWorkerRunning();

// Starts body on a new thread. Joins the previous, finished worker first.
// Returns 0, -1 when a worker is still running, -2 when the thread cannot be
// created.
int startWorker(WorkerKind kind, void *(*body)(void *));

// Clears the run's exit flag and starts its worker; logs a thread that cannot
// be created. Returns startWorker's result.
int startRun(WorkerKind kind, void *(*body)(void *), std::atomic<int> &exitFlag);

// Asks the running capture to end: sets the exit flag, cancels the pending
// receive and sends the end-capture frame. The worker notices and sends its
// final signal. Returns 0.
int stopRun(std::atomic<int> &exitFlag);

// The first and the last step of a worker body.
void workerStarted(WorkerKind kind);
void workerFinished(WorkerKind kind);
// The worker has sent its final signal: what it still does (renewing the
// matched template) neither needs a stop nor is a reason to refuse a run.
void workerAnswered();

// What sets enrollment and verification apart in the capture loop they share.
struct CaptureMode {
    WorkerKind kind;
    // The first word of the mode's log lines: "enroll" or "verify".
    const char *name;
    const uint8_t *beginCommand; // VL_CMD_SIZE bytes
    const std::atomic<int> *exitFlag;
    // Logged when the exit flag ends the run.
    const char *stopLine;
    // The final signals of a begin-capture that cannot be sent and of a stop.
    void (*sendFailed)();
    void (*stopped)();
    // Handles the frame just received, the run's frameNumber-th (from 1);
    // true when the run is over. May set result, which the loop's last log
    // line shows.
    bool (*onFrame)(int frameNumber, int &result);
};

// A worker's whole run: workerStarted, then send the begin-capture command,
// receive a frame with a timeout, hand it to the mode, check the exit flag,
// until the mode, a failed send or a stop ends it; then workerFinished.
void runCaptureLoop(const CaptureMode &mode);

// Stops a running worker the way StopEnroll or StopVerify do and waits for it
// to end, so that nothing uses the sensor afterwards.
void stopWorkerAndWait();

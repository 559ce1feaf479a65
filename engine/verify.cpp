// Verification: captures are matched against every stored template until one
// matches, five captures were compared, or the run is stopped.
// vlVerifyFp and vlStopVerify run on the main thread, ExecThreadVerify on the
// worker thread.
#include "engine/capture_ring.h"
#include "engine/drv_state.h"
#include "engine/match_score.h"
#include "engine/vorl2547_drv.h"
#include "engine/worker.h"
#include "log/log.h"
#include "protocol/run_status.h"
#include "protocol/sensor_frames.h"
#include "service/vlsig.h"

namespace {

constexpr int ACCEPT_RESULT = 60;
constexpr int MAX_TRIES = 5;

// One received frame, matched against the stored templates: a match, an
// empty store and the last try end the run. The score is what the loop's
// last log line shows.
bool verifyFrame(int tries, int &ret)
{
    setCapture_Image();
    ret = vlFpMatchScore(m_finger, m_usrname);
    if (ret < 0) {
        vllogstr("no file verify");
        vlSigVerifyStatus("", VERIFY_ENDED, 0);
        return true;
    }
    if (ret > ACCEPT_RESULT) {
        // A directory name, made by whoever can write to the store.
        char shown[VLLOG_ESCAPED_SIZE];
        _vllog("verify ok %s", vllogEscape(m_usrname, shown, sizeof shown));
        vlSigVerifyStatus(m_usrname, VERIFY_MATCH, 0);
        return true;
    }
    _vllog("verify continew %d", ret);
    if (tries >= MAX_TRIES) {
        vlSigVerifyStatus("", VERIFY_NO_MATCH, 1);
        return true;
    }
    vlSigVerifyStatus("", VERIFY_RETRY, ret);
    return false;
}

const CaptureMode VERIFY_MODE = {
    WORKER_VERIFY,
    "verify",
    m_verify_beg_cmd,
    &m_verifyExit,
    "verify exit",
    [] { vlSigVerifyStatus("", VERIFY_SENSOR_ERROR, 0); },
    [] { vlSigVerifyStatus("", VERIFY_ENDED, 0); },
    verifyFrame,
};

void *ExecThreadVerify(void *)
{
    runCaptureLoop(VERIFY_MODE);
    return nullptr;
}

} // namespace

int vlVerifyFp(const char *finger)
{
    // A running worker owns the ring and the run buffers.
    if (isWorkerRunning())
        return -1;
    // The filter must fit the run buffer; a cut filter could select another finger.
    if (!copyName(m_finger, finger))
        return -1;
    initCapture_Image();
    return startRun(WORKER_VERIFY, ExecThreadVerify, m_verifyExit);
}

int vlStopVerify() { return stopRun(m_verifyExit); }

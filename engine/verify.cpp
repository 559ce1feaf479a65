// Verification: captures are matched against the stored templates (every
// user's, or one named user's) until one matches, five captures were
// compared, or the run is stopped. vlVerifyFp, vlVerifyUserFp and
// vlStopVerify run on the main thread, ExecThreadVerify on the worker thread.
#include <cstring>

#include "engine/capture_ring.h"
#include "engine/drv_state.h"
#include "engine/match_score.h"
#include "engine/template_paths.h"
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
    ret = vlFpMatchScore(MatchScope{m_finger, m_verifyUser}, m_usrname, m_matchedFinger);
    if (ret < 0) {
        vllogstr("no file verify");
        vlSigVerifyStatus("", VERIFY_ENDED, 0);
        return true;
    }
    if (ret > ACCEPT_RESULT) {
        // A directory name, made by whoever can write to the store.
        char shown[VLLOG_ESCAPED_SIZE];
        vllogEscape(m_usrname, shown, sizeof shown);
        if (m_verifyUser[0] == '\0') {
            _vllog("verify ok %s", shown);
            vlSigVerifyStatus(m_usrname, VERIFY_MATCH, 0);
        } else {
            // The caller named the user; what it learns is which finger.
            char shownFinger[VLLOG_ESCAPED_SIZE];
            _vllog("verify ok %s finger %s", shown, vllogEscape(m_matchedFinger, shownFinger, sizeof shownFinger));
            vlSigVerifyMatch(m_usrname, m_matchedFinger);
        }
        // The answer is out; the renewal (a write flushed to disk) need not
        // hold it up. A new run waits for it instead of being refused.
        workerAnswered();
        vlRenewMatchedTemplate();
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
    m_verifyUser[0] = '\0';
    initCapture_Image();
    return startRun(WORKER_VERIFY, ExecThreadVerify, m_verifyExit);
}

int vlVerifyUserFp(const char *id, const char *finger)
{
    if (isWorkerRunning())
        return -1;
    // The id becomes a path component: the same rules as every store
    // operation, so nothing outside <store>/<id>/ is ever read or renewed.
    bool anyFinger = finger[0] == '\0' || std::strcmp(finger, "any") == 0;
    if (!isSafeName(id) || (!anyFinger && !isSafeName(finger))) {
        _vllog("refused id or finger name");
        return -1;
    }
    copyName(m_verifyUser, id);
    copyName(m_finger, finger);
    initCapture_Image();
    return startRun(WORKER_VERIFY, ExecThreadVerify, m_verifyExit);
}

int vlStopVerify() { return stopRun(m_verifyExit); }

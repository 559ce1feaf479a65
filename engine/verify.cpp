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
#include "usb/vlUsb.h"

namespace {

constexpr int CAPTURE_TIMEOUT_S = 3;
constexpr int ACCEPT_RESULT = 60;
constexpr int MAX_TRIES = 5;

void *ExecThreadVerify(void *)
{
    workerStarted(WORKER_VERIFY);
    int tries = 0;
    int ret = 0;
    for (;;) {
        ret = ssUsbTxAsyn(nullptr, m_verify_beg_cmd, sizeof m_verify_beg_cmd);
        if (ret != 0) {
            vllogstr("verify tx fail");
            vlSigVerifyStatus("", VERIFY_SENSOR_ERROR, 0);
            break;
        }
        int len = VL_FRAME_SIZE;
        ret = ssUsbRxdAsyn(nullptr, g_imgbuf, &len, CAPTURE_TIMEOUT_S);
        if (ret == 0) {
            setCapture_Image();
            ret = vlFpMatchScore(m_finger, m_usrname);
            ++tries;
            if (ret < 0) {
                vllogstr("no file verify");
                vlSigVerifyStatus("", VERIFY_ENDED, 0);
                break;
            }
            if (ret > ACCEPT_RESULT) {
                // A directory name, made by whoever can write to the store.
                char shown[VLLOG_ESCAPED_SIZE];
                _vllog("verify ok %s", vllogEscape(m_usrname, shown, sizeof shown));
                vlSigVerifyStatus(m_usrname, VERIFY_MATCH, 0);
                break;
            }
            _vllog("verify continew %d", ret);
            if (tries >= MAX_TRIES) {
                vlSigVerifyStatus("", VERIFY_NO_MATCH, 1);
                break;
            }
            vlSigVerifyStatus("", VERIFY_RETRY, ret);
        } else if (ret == XFER_TIMEOUT || ret == XFER_CANCELLED) {
            _vllog("verify timeout %d", ret);
        }
        if (m_verifyExit.load() != 0) {
            vllogstr("verify exit");
            vlSigVerifyStatus("", VERIFY_ENDED, 0);
            break;
        }
    }
    _vllog("verify thread exit %x", static_cast<unsigned>(ret));
    workerFinished(WORKER_VERIFY);
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

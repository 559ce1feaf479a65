// Enrollment: nine accepted captures are merged into one template and saved
// as the finger's file. vlEnrollFp and vlStopEnroll run on the main thread,
// ExecThreadEnroll on the worker thread.
#include <cstring>

#include "engine/capture_ring.h"
#include "engine/drv_state.h"
#include "engine/feature_extraction.h"
#include "engine/template_paths.h"
#include "engine/template_store.h"
#include "engine/vorl2547_drv.h"
#include "engine/worker.h"
#include "log/log.h"
#include "protocol/run_status.h"
#include "protocol/sensor_frames.h"
#include "service/vlsig.h"

namespace {

constexpr int MAX_FINGERS = 10;

uint8_t *featureSlot(int stage) { return m_opFeatureArr + FPALG_TEMPLATE_SIZE * (stage - 1); }
uint8_t *countRecord(int stage) { return m_opnCharNumArr + FPALG_COUNT_RECORD_SIZE * (stage - 1); }

// Merges the capture of stage s into the template so far. True when the
// stage may advance.
bool mergeCapture(int s)
{
    int16_t o1, o2, o3;
    if (s == 1)
        return true;
    const uint8_t *earlier = s == 2 ? featureSlot(1) : m_opFeatureLastMerge;
    int16_t ret = FpAlg_MergeFeature(earlier, featureSlot(s), m_opFeatureOut, &o1, &o2, &o3);
    _vllog("1----ret = %d\n", ret);
    if (ret == 0) {
        std::memcpy(m_opFeatureLastMerge, m_opFeatureOut, FPALG_TEMPLATE_SIZE);
        return true;
    }
    // Two first captures that do not merge: the newer one starts afresh.
    if (s == 2)
        std::memcpy(featureSlot(1), featureSlot(2), FPALG_TEMPLATE_SIZE);
    return false;
}

// One received frame: its minutiae, merged into the template so far; the
// ninth merge saves the template and ends the run.
bool enrollFrame(int, int &ret)
{
    setCapture_Image();
    int s = m_enrol_stage;
    int16_t made = static_cast<int16_t>(CreateFingerPrintMinutiae(getCapture_Image(), featureSlot(s), countRecord(s)));
    freeCapture_Image();
    _vllog("CreateFingerPrintMinutiae ret=%d stage=%d", made, s);
    if (made == 1 && mergeCapture(s)) {
        int n = ++m_enrol_stage;
        _vllog("m_enrol_stage=%d", n);
        if (n > VL_ENROLL_CAPTURES) {
            SaveToMinutiaeFile();
            vlSigEnrollStatus(m_usrname, ENROLL_DONE, 0);
            ret = 0;
            return true;
        }
        vlSigEnrollStatus(m_usrname, ENROLL_STEP, n);
    }
    return false;
}

const CaptureMode ENROLL_MODE = {
    WORKER_ENROLL,
    "enroll",
    m_capture_beg_cmd,
    &m_enrollExit,
    "enroll block",
    [] { vlSigEnrollStatus(m_usrname, ENROLL_SENSOR_ERROR, 0); },
    [] { vlSigEnrollStatus(m_usrname, ENROLL_REFUSED, ENROLL_SUB_STOPPED); },
    enrollFrame,
};

void *ExecThreadEnroll(void *)
{
    runCaptureLoop(ENROLL_MODE);
    return nullptr;
}

} // namespace

int vlEnrollFp(const char *id, const char *finger)
{
    // A running worker owns the run buffers; it must not see them change.
    if (isWorkerRunning())
        return -1;
    char userDir[VL_PATH_SIZE];
    if (!isNewFingerName(finger) || !formatUserDir(userDir, sizeof userDir, id)) {
        _vllog("refused id or finger name");
        return -1;
    }
    m_enrol_stage = 1;
    initCapture_Image();
    copyName(m_usrname, id);
    copyName(m_finger, finger);

    int count = getSubFile(userDir, nullptr, 1);
    if (count >= MAX_FINGERS) {
        vllogstr("finger num >10");
        vlSigEnrollStatus(m_usrname, ENROLL_REFUSED, ENROLL_SUB_TOO_MANY);
        return 0;
    }
    bool exists = false;
    forEachSubFile(userDir, 1, [&](const char *name) {
        std::size_t stem = std::strlen(name) - VL_TEMPLATE_SUFFIX_LEN;
        exists = std::strlen(finger) == stem && std::memcmp(name, finger, stem) == 0;
        return !exists;
    });
    if (exists) {
        vllogstr("finger exist");
        vlSigEnrollStatus(m_usrname, ENROLL_REFUSED, ENROLL_SUB_EXISTS);
        return 0;
    }
    return startRun(WORKER_ENROLL, ExecThreadEnroll, m_enrollExit);
}

int vlStopEnroll() { return stopRun(m_enrollExit); }

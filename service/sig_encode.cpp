// The encoding tables of the two status signals. The same numbers mean
// different things in the two signals; only EnrollStatus carries progress.
#include <cstdio>
#include <cstring>

#include "protocol/run_status.h"
#include "service/sig_encode.h"

static void setSubcode(VlSigArgs *out, int32_t subcode)
{
    snprintf(out->text, sizeof out->text, "{subcode:%d}", subcode);
}

// detail x 10, capped at 100. The product wraps like 32-bit two's complement
// arithmetic without the undefined behaviour of a signed overflow.
static int32_t progressPercent(int32_t detail)
{
    auto product = static_cast<int32_t>(static_cast<uint32_t>(detail) * 10u);
    return product > 100 ? 100 : product;
}

void vlEncodeEnrollStatus(const char *id, int32_t status, int32_t detail, VlSigArgs *out)
{
    memset(out, 0, sizeof *out);
    out->id = id != nullptr ? id : "";
    out->status = status;
    switch (status) {
    case ENROLL_DONE: break;
    case ENROLL_REFUSED:
        setSubcode(out, detail == ENROLL_SUB_TOO_MANY ? ENROLL_SUB_TOO_MANY
                        : detail == ENROLL_SUB_EXISTS ? ENROLL_SUB_EXISTS
                                                      : ENROLL_SUB_STOPPED);
        break;
    case ENROLL_STEP: snprintf(out->text, sizeof out->text, "{progress:%d}", progressPercent(detail)); break;
    case ENROLL_FAILED: setSubcode(out, detail == ENROLL_SUB_TOO_MANY ? ENROLL_SUB_TOO_MANY : ENROLL_SUB_FAILED); break;
    default: out->status = ENROLL_SENSOR_ERROR; break;
    }
}

void vlEncodeVerifyStatus(const char *id, int32_t status, int32_t detail, VlSigArgs *out)
{
    memset(out, 0, sizeof *out);
    // Only a match names a user.
    out->id = (status == VERIFY_MATCH && id != nullptr) ? id : "";
    out->status = status;
    switch (status) {
    case VERIFY_MATCH:
    case VERIFY_NO_MATCH: break;
    case VERIFY_ENDED: setSubcode(out, VERIFY_SUB_ENDED); break;
    case VERIFY_RETRY:
        // The detail is the score; 0 is a capture that scored nothing.
        setSubcode(out, detail == 0 ? VERIFY_SUB_NO_SCORE : VERIFY_SUB_TOO_LOW);
        break;
    default: out->status = VERIFY_SENSOR_ERROR; break;
    }
}

void vlEncodeVerifyMatch(const char *id, const char *finger, VlSigArgs *out)
{
    vlEncodeVerifyStatus(id, VERIFY_MATCH, 0, out);
    // A name too long for the text is left out rather than cut: a cut name
    // could be another finger's.
    int n = finger != nullptr && finger[0] != '\0'
                ? snprintf(out->text, sizeof out->text, "%s%s}", VERIFY_FINGER_TEXT, finger)
                : 0;
    if (n < 0 || static_cast<size_t>(n) >= sizeof out->text)
        out->text[0] = '\0';
}

// The encoding tables of the two status signals. The same numbers mean
// different things in the two signals; only EnrollStatus carries progress.
#include <cstdio>
#include <cstring>

#include "service/sig_encode.h"

// Status sent for anything outside 0..3.
static constexpr int32_t STATUS_OTHER = 4;

static void setText(VlSigArgs *out, const char *text)
{
    snprintf(out->text, sizeof out->text, "%s", text);
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
    case 0:
        break;
    case 1:  // refused or stopped
        setText(out, detail == 4 ? "{subcode:4}" : detail == 2 ? "{subcode:2}" : "{subcode:3}");
        break;
    case 2:  // an accepted capture
        snprintf(out->text, sizeof out->text, "{progress:%d}", progressPercent(detail));
        break;
    case 3:
        setText(out, detail == 4 ? "{subcode:4}" : "{subcode:7}");
        break;
    default:
        out->status = STATUS_OTHER;
        break;
    }
}

void vlEncodeVerifyStatus(const char *id, int32_t status, int32_t detail, VlSigArgs *out)
{
    memset(out, 0, sizeof *out);
    // Only a match names a user.
    out->id = (status == 0 && id != nullptr) ? id : "";
    out->status = status;
    switch (status) {
    case 0:  // match
    case 1:  // no match after the last try
        break;
    case 2:  // nothing stored, or stopped
        setText(out, "{subcode:1}");
        break;
    case 3:  // no match yet, try again
        setText(out, detail == 0 ? "{subcode:3}" : "{subcode:5}");
        break;
    default:
        out->status = STATUS_OTHER;
        break;
    }
}

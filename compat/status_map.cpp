#include <array>

#include "compat/fprint_api.h"
#include "protocol/run_status.h"

namespace fpcompat {

bool isFingerName(const std::string &name)
{
    static constexpr std::array<const char *, 10> FINGERS = {
        "left-thumb",  "left-index-finger",  "left-middle-finger",  "left-ring-finger",  "left-little-finger",
        "right-thumb", "right-index-finger", "right-middle-finger", "right-ring-finger", "right-little-finger"};
    for (const char *f : FINGERS)
        if (name == f)
            return true;
    return false;
}

bool translateVerify(const std::string &id, int32_t status, const std::string &claimedUser, FprintStatus &out)
{
    switch (status) {
    case VERIFY_MATCH:
        // The daemon compared the claimed user's fingers only; a match of
        // anybody else would be no match of theirs.
        out = {id == claimedUser ? "verify-match" : "verify-no-match", true};
        return true;
    case VERIFY_NO_MATCH: // five compared captures without a match
    case VERIFY_ENDED:    // nothing stored to compare with (a stop is handled before this)
        out = {"verify-no-match", true};
        return true;
    case VERIFY_RETRY: // a capture compared without a match; the run goes on
        out = {"verify-retry-scan", false};
        return true;
    default: out = {"verify-unknown-error", true}; return true;
    }
}

bool translateEnroll(int32_t status, const std::string &text, FprintStatus &out)
{
    switch (status) {
    case ENROLL_DONE: out = {"enroll-completed", true}; return true;
    case ENROLL_REFUSED:
        out = {text == "{subcode:" + std::to_string(ENROLL_SUB_TOO_MANY) + "}" ? "enroll-data-full" : "enroll-failed",
               true};
        return true;
    case ENROLL_STEP: out = {"enroll-stage-passed", false}; return true;
    default: out = {"enroll-unknown-error", true}; return true;
    }
}

} // namespace fpcompat

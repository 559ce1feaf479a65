#include <array>

#include "compat/fprint_api.h"

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
    case 0:
        // The daemon identifies among all users; only the claimed one counts.
        out = {id == claimedUser ? "verify-match" : "verify-no-match", true};
        return true;
    case 1: // five compared captures without a match
    case 2: // nothing stored to compare with (a stop is handled before this)
        out = {"verify-no-match", true};
        return true;
    case 3: // a capture compared without a match; the run goes on
        out = {"verify-retry-scan", false};
        return true;
    default: out = {"verify-unknown-error", true}; return true;
    }
}

bool translateEnroll(int32_t status, const std::string &text, FprintStatus &out)
{
    switch (status) {
    case 0: out = {"enroll-completed", true}; return true;
    case 1: out = {text == "{subcode:4}" ? "enroll-data-full" : "enroll-failed", true}; return true;
    case 2: out = {"enroll-stage-passed", false}; return true;
    default: out = {"enroll-unknown-error", true}; return true;
    }
}

} // namespace fpcompat

// Everything the daemon can say, in words a person understands. The daemon's
// codes mean different things in the two signals, so each has its own table.
#include <cstdio>
#include <cstring>

#include "client/client.h"

namespace vlclient {

void decodeText(Status &s)
{
    int n;
    char tail;
    if (std::sscanf(s.text.c_str(), "{progress:%d%c", &n, &tail) == 2 && tail == '}')
        s.progress = n;
    else if (std::sscanf(s.text.c_str(), "{subcode:%d%c", &n, &tail) == 2 && tail == '}')
        s.subcode = n;
}

namespace {

std::string describeEnroll(const Status &s)
{
    switch (s.status) {
    case 0:
        return "finger enrolled";
    case 1:
        switch (s.subcode) {
        case 2: return "finger already enrolled";
        case 4: return "too many fingers (at most 10 per user)";
        default: return "enrollment stopped";
        }
    case 2:
        return "touch accepted (" + std::to_string(s.progress) + " %)";
    case 3:
        return s.subcode == 4 ? "too many fingers (at most 10 per user)" : "enrollment failed";
    default:
        return "sensor error";
    }
}

std::string describeVerify(const Status &s)
{
    switch (s.status) {
    case 0:
        return "finger identified as " + s.id;
    case 1:
        return "no match";
    case 2:
        return "verification ended (stopped, or no finger enrolled)";
    case 3:
        return s.subcode == 3 ? "finger not recognised, try again" : "no match, try again";
    default:
        return "sensor error";
    }
}

} // namespace

std::string describe(const Status &s) { return s.enroll ? describeEnroll(s) : describeVerify(s); }

std::string Error::describe() const
{
    if (name == "org.freedesktop.DBus.Error.Failed") {
        if (message == "not claimed.")
            return "the sensor is not claimed";
        if (message == "OpenDevice fail.")
            return "cannot open the fingerprint sensor (is it plugged in?)";
        if (message == "Enroll fail." || message == "Verify fail.")
            return "the daemon refused: the sensor is busy or a name is not acceptable";
        if (message == "DeleteFinger fail.")
            return "no such finger";
        if (message == "RenameFinger fail.")
            return "cannot rename: no such finger, or the new name is taken or not acceptable";
        return message;
    }
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner")
        return "the fingerprint daemon is not running";
    if (name == "org.freedesktop.DBus.Error.NoReply" || name == "org.freedesktop.DBus.Error.Timeout")
        return "the fingerprint daemon did not answer in time";
    if (name == "org.freedesktop.DBus.Error.AccessDenied")
        return "permission denied (this needs root)";
    if (name == "org.freedesktop.DBus.Error.FileNotFound" || name == "org.freedesktop.DBus.Error.NoServer")
        return "cannot reach the system bus";
    return message.empty() ? name : message;
}

} // namespace vlclient

// Everything the daemon and the bus can say, in words a person understands.
// The daemon's codes mean different things in the two signals, so each has
// its own table.
#include <cstdio>
#include <cstring>
#include <iterator>

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
    else if (const std::size_t prefix = std::strlen(VERIFY_FINGER_TEXT);
             s.text.size() > prefix + 1 && s.text.compare(0, prefix, VERIFY_FINGER_TEXT) == 0 && s.text.back() == '}')
        s.finger = s.text.substr(prefix, s.text.size() - prefix - 1);
}

namespace {

constexpr char TOO_MANY[] = "too many fingers: a user can enroll at most 10";

std::string describeEnroll(const Status &s)
{
    switch (s.status) {
    case ENROLL_DONE: return "finger enrolled";
    case ENROLL_REFUSED:
        switch (s.subcode) {
        case ENROLL_SUB_EXISTS: return "finger already enrolled under that name";
        case ENROLL_SUB_TOO_MANY: return TOO_MANY;
        default: return "enrollment stopped before it was complete";
        }
    case ENROLL_STEP:
        return s.progress >= 0 ? "touch accepted, " + std::to_string(s.progress) + "% done" : "touch accepted";
    case ENROLL_FAILED: return s.subcode == ENROLL_SUB_TOO_MANY ? TOO_MANY : "enrollment failed";
    default: return "sensor error: the sensor did not take the capture command";
    }
}

std::string describeVerify(const Status &s)
{
    switch (s.status) {
    case VERIFY_MATCH:
        return s.finger.empty() ? "finger identified as " + s.id : "finger identified as " + s.id + "'s " + s.finger;
    case VERIFY_NO_MATCH: return "no match: the finger is not enrolled";
    case VERIFY_ENDED: return "nothing to compare with (no finger enrolled), or the verification was stopped";
    case VERIFY_RETRY:
        // No score: the capture gave no usable fingerprint or scored nothing
        // at all; otherwise it resembled a stored one too little.
        return s.subcode == VERIFY_SUB_NO_SCORE ? "finger not recognised, try again" : "no match, try again";
    default: return "sensor error: the sensor did not take the capture command";
    }
}

struct Words {
    const char *key;
    const char *words;
};

// The fixed messages of the daemon's "Failed" error replies.
constexpr Words DAEMON_REFUSALS[] = {
    {"not claimed.", "the sensor is not claimed (another program released it)"},
    {"OpenDevice fail.", "cannot open the fingerprint sensor: is it plugged in?"},
    {"Enroll fail.",
     "the daemon refused the enrollment: another enrollment or verification is running, or the user or finger "
     "name is not acceptable (empty, too long, '.', '..' or with a '/')"},
    {"Verify fail.", "the daemon refused the verification: another enrollment or verification is running, "
                     "or the finger name is not acceptable"},
    {"VerifyUser fail.", "the daemon refused the verification: another enrollment or verification is running, "
                         "or the user or finger name is not acceptable"},
    {"DeleteFinger fail.", "no such finger"},
    {"RenameFinger fail.", "cannot rename: no such finger, or the new name is taken or not acceptable"},
    {"ListFingers fail.", "cannot list the fingers"},
};

// Errors of the bus and of the connection, by name.
constexpr Words BUS_ERRORS[] = {
    {DBUS_ERROR_SERVICE_UNKNOWN, "the fingerprint daemon is not running"},
    {DBUS_ERROR_NAME_HAS_NO_OWNER, "the fingerprint daemon is not running"},
    {DBUS_ERROR_NO_REPLY, "the fingerprint daemon did not answer in time"},
    {DBUS_ERROR_TIMEOUT, "the fingerprint daemon did not answer in time"},
    {DBUS_ERROR_ACCESS_DENIED, "permission denied: enrolling, deleting and renaming need root"},
    {DBUS_ERROR_FILE_NOT_FOUND, "cannot reach the system bus: is dbus running?"},
    {DBUS_ERROR_NO_SERVER, "cannot reach the system bus: is dbus running?"},
    {DBUS_ERROR_BAD_ADDRESS, "cannot reach the system bus: its address is malformed"},
    {DBUS_ERROR_DISCONNECTED, "the connection to the system bus was lost"},
    {DBUS_ERROR_NO_MEMORY, "out of memory"},
    {DBUS_ERROR_INVALID_ARGS, "the daemon did not accept the arguments"},
};

const char *lookup(const Words *table, size_t n, const std::string &key)
{
    for (size_t i = 0; i < n; ++i)
        if (key == table[i].key)
            return table[i].words;
    return nullptr;
}

} // namespace

std::string describe(const Status &s) { return s.enroll ? describeEnroll(s) : describeVerify(s); }

bool Error::refusedByDaemon() const { return name == DBUS_ERROR_FAILED; }

std::string Error::describe() const
{
    if (name == ERROR_BUSY)
        return "the sensor is busy";
    if (name == ERROR_NOT_UTF8)
        return "a name is not valid UTF-8 text";
    if (refusedByDaemon()) {
        const char *w = lookup(DAEMON_REFUSALS, std::size(DAEMON_REFUSALS), message);
        return w ? w : "the daemon refused: " + message;
    }
    if (const char *w = lookup(BUS_ERRORS, std::size(BUS_ERRORS), name))
        return w;
    // Bus activation failed: the unit is missing, masked or crashed.
    if (name.rfind("org.freedesktop.DBus.Error.Spawn.", 0) == 0 || name.rfind("org.freedesktop.systemd1.", 0) == 0)
        return "the fingerprint daemon could not be started: " + message;
    if (name.empty())
        return message.empty() ? "unknown error" : message;
    return message.empty() ? name : name + ": " + message;
}

} // namespace vlclient

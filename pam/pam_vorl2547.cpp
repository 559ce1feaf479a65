// pam_vorl2547: authenticate with the finger on the vorl2547 sensor.
//
// The module claims the sensor and asks the daemon to compare the finger with
// the fingers of the user logging in, and nobody else's. When the daemon or
// the sensor is not there it answers PAM_AUTHINFO_UNAVAIL, so that the stack
// falls through to the password. It always stops the run and releases the
// sensor before it returns.
#include <security/pam_ext.h>
#include <security/pam_modules.h>
#include <syslog.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/client.h"
#include "protocol/run_status.h"

namespace {

struct Options {
    int timeoutS = 30;
    int maxTries = 5;
    bool debug = false;
};

bool parseNumber(const char *text, int lo, int hi, int &out)
{
    char *end;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

Options parseOptions(pam_handle_t *pamh, int argc, const char **argv)
{
    Options o;
    for (int i = 0; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strncmp(a, "timeout=", 8) == 0 && parseNumber(a + 8, 1, 3600, o.timeoutS))
            continue;
        if (std::strncmp(a, "max-tries=", 10) == 0 && parseNumber(a + 10, 1, 100, o.maxTries))
            continue;
        if (std::strcmp(a, "debug") == 0) {
            o.debug = true;
            continue;
        }
        pam_syslog(pamh, LOG_WARNING, "ignoring unknown or malformed option '%s'", a);
    }
    return o;
}

// A fingerprint is only worth asking for from someone at this machine.
bool isRemote(pam_handle_t *pamh)
{
    const void *rhost = nullptr;
    if (pam_get_item(pamh, PAM_RHOST, &rhost) != PAM_SUCCESS || rhost == nullptr)
        return false;
    const char *h = static_cast<const char *>(rhost);
    return h[0] != '\0' && std::strcmp(h, "localhost") != 0;
}

using Clock = std::chrono::steady_clock;

// Kept back from the timeout for stopping the run and releasing the sensor,
// so that the whole call returns within the configured time: the daemon
// answers a call within about a second.
constexpr int CLEANUP_MS = 1500;
// Even past the deadline the sensor is released, with this much patience.
constexpr int MIN_CALL_MS = 1000;

class Session {
public:
    Session(pam_handle_t *pamh, const Options &o, const char *user)
        : pamh_(pamh), opt_(o), user_(user), deadline_(Clock::now() + std::chrono::seconds(o.timeoutS)),
          conn_(o.timeoutS * 1000)
    {
    }

    // Always stops a run that may still be going, and releases the sensor.
    ~Session()
    {
        if (!claimed_)
            return;
        vlclient::Error err;
        conn_.setCallTimeout(std::max(msLeft(0), MIN_CALL_MS));
        bool released = running_ ? conn_.stopAndRelease(false, 0, nullptr, err) : conn_.claim(false, err);
        if (!released)
            debug("could not release the sensor: %s", err.describe().c_str());
    }

    int authenticate()
    {
        vlclient::Error err;
        if (!conn_.open(err)) {
            debug("no system bus: %s", err.describe().c_str());
            return PAM_AUTHINFO_UNAVAIL;
        }
        // Someone who never enrolled a finger is not kept waiting for one.
        std::vector<std::string> fingers;
        if (!call(err, [&] { return conn_.listFingers(user_, fingers, err); })) {
            debug("daemon unavailable: %s", err.describe().c_str());
            return PAM_AUTHINFO_UNAVAIL;
        }
        if (fingers.empty()) {
            debug("no finger enrolled for '%s'", user_.c_str());
            return PAM_AUTHINFO_UNAVAIL;
        }
        if (!call(err, [&] { return claimed_ = conn_.claim(true, err); })) {
            debug("sensor unavailable: %s", err.describe().c_str());
            // Someone else is verifying or enrolling: the password it is.
            if (err.busy())
                pam_info(pamh_, "The fingerprint sensor is busy");
            return PAM_AUTHINFO_UNAVAIL;
        }
        int tries = 0;
        for (;;) {
            if (!call(err, [&] { return running_ = conn_.verifyUser(user_, "any", err); })) {
                debug("verification refused: %s", err.describe().c_str());
                return PAM_AUTHINFO_UNAVAIL;
            }
            pam_info(pamh_, "Place your finger on the sensor");
            int rc = followRun(tries);
            if (rc != PAM_INCOMPLETE)
                return rc;
            // The daemon ended its run after its own number of tries; ours
            // asks for more.
            pam_error(pamh_, "No match, try again");
        }
    }

private:
    // Follows one Verify run. PAM_INCOMPLETE: the run ended without a
    // match and tries are left for another.
    int followRun(int &tries)
    {
        for (;;) {
            vlclient::Status s;
            switch (conn_.waitStatus(s, msLeft(CLEANUP_MS), nullptr)) {
            case vlclient::Wait::Signal: break;
            case vlclient::Wait::Timeout: debug("timed out after %d s", opt_.timeoutS); return PAM_AUTHINFO_UNAVAIL;
            default:
                debug("lost the daemon");
                running_ = false;
                return PAM_AUTHINFO_UNAVAIL;
            }
            if (s.enroll)
                continue;
            if (s.isStep()) {
                if (++tries >= opt_.maxTries)
                    return PAM_MAXTRIES;
                pam_error(pamh_, "No match, try again");
                continue;
            }
            running_ = false;
            switch (s.status) {
            case VERIFY_MATCH:
                debug("finger identified as '%s' (%s)", s.id.c_str(), s.finger.c_str());
                return s.id == user_ ? PAM_SUCCESS : PAM_AUTH_ERR;
            case VERIFY_NO_MATCH: return ++tries >= opt_.maxTries ? PAM_MAXTRIES : PAM_INCOMPLETE;
            default: debug("verification ended: %s", vlclient::describe(s).c_str()); return PAM_AUTHINFO_UNAVAIL;
            }
        }
    }

    // A method call bounded by what is left of the time.
    template <typename F>
    bool call(vlclient::Error &err, F f)
    {
        int left = msLeft(CLEANUP_MS);
        if (left <= 0) {
            err = {DBUS_ERROR_TIMEOUT, "out of time"};
            return false;
        }
        conn_.setCallTimeout(left);
        return f();
    }

    int msLeft(int reserveMs) const
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        left -= reserveMs;
        return left > 0 ? static_cast<int>(left) : 0;
    }

    template <typename... A>
    void debug(const char *fmt, A... args)
    {
        if (!opt_.debug)
            return;
        // A fixed text goes through "%s": Debian's hardened build refuses a
        // format without arguments.
        if constexpr (sizeof...(A) == 0)
            pam_syslog(pamh_, LOG_DEBUG, "%s", fmt);
        else
            pam_syslog(pamh_, LOG_DEBUG, fmt, args...);
    }

    pam_handle_t *pamh_;
    const Options &opt_;
    std::string user_;
    Clock::time_point deadline_;
    vlclient::Connection conn_;
    bool claimed_ = false;
    bool running_ = false;
};

} // namespace

extern "C" {

PAM_EXTERN __attribute__((visibility("default"))) int pam_sm_authenticate(pam_handle_t *pamh, int, int argc,
                                                                          const char **argv)
{
    Options opt = parseOptions(pamh, argc, argv);
    const char *user = nullptr;
    if (pam_get_user(pamh, &user, nullptr) != PAM_SUCCESS || user == nullptr || user[0] == '\0')
        return PAM_USER_UNKNOWN;
    // No such user can have enrolled, and libdbus would abort the program
    // that loaded us rather than send a name that is not UTF-8.
    if (!dbus_validate_utf8(user, nullptr))
        return PAM_USER_UNKNOWN;
    if (isRemote(pamh))
        return PAM_AUTHINFO_UNAVAIL;
    // The application's signal handling is its own: libdbus would otherwise
    // ignore SIGPIPE for the whole process (its socket writes never raise it).
    dbus_connection_set_change_sigpipe(FALSE);
    try {
        Session session(pamh, opt, user);
        return session.authenticate();
    } catch (...) {
        // Nothing may unwind into the application that loaded us.
        return PAM_AUTHINFO_UNAVAIL;
    }
}

PAM_EXTERN __attribute__((visibility("default"))) int pam_sm_setcred(pam_handle_t *, int, int, const char **)
{
    return PAM_SUCCESS;
}

} // extern "C"

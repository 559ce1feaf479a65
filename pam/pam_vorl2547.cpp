// pam_vorl2547: authenticate with the finger on the vorl2547 sensor.
//
// The module claims the sensor, asks the daemon to identify the finger among
// all enrolled users, and accepts only when the identified user is the one
// logging in. When the daemon or the sensor is not there it answers
// PAM_AUTHINFO_UNAVAIL, so that the stack falls through to the password. It
// always stops the run and releases the sensor before it returns.
#include <security/pam_ext.h>
#include <security/pam_modules.h>
#include <syslog.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/client.h"

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

class Session {
public:
    Session(pam_handle_t *pamh, const Options &o, const char *user)
        : pamh_(pamh), opt_(o), user_(user), deadline_(Clock::now() + std::chrono::seconds(o.timeoutS)),
          conn_(o.timeoutS * 1000)
    {
    }

    ~Session()
    {
        vlclient::Error err;
        if (running_) {
            conn_.stopVerify(err);
            drain();
        }
        if (claimed_)
            conn_.claim(false, err);
    }

    int authenticate()
    {
        vlclient::Error err;
        if (!conn_.open(err) || !(claimed_ = conn_.claim(true, err))) {
            debug("daemon or sensor unavailable: %s", err.describe().c_str());
            return PAM_AUTHINFO_UNAVAIL;
        }
        int tries = 0;
        while (tries < opt_.maxTries) {
            if (!conn_.verify("any", err)) {
                debug("Verify refused: %s", err.describe().c_str());
                return PAM_AUTHINFO_UNAVAIL;
            }
            running_ = true;
            pam_info(pamh_, "Place your finger on the sensor");
            for (;;) {
                vlclient::Status s;
                int got = conn_.waitStatus(s, msLeft(), nullptr);
                if (got <= 0) {
                    debug("%s", got == 0 ? "timed out" : "lost the daemon");
                    return PAM_AUTHINFO_UNAVAIL;
                }
                if (s.enroll)
                    continue;
                if (s.status == 3) {
                    if (++tries >= opt_.maxTries)
                        return PAM_MAXTRIES;
                    pam_error(pamh_, "No match, try again");
                    continue;
                }
                running_ = false;
                if (s.status == 0) {
                    debug("finger identified as '%s'", s.id.c_str());
                    return s.id == user_ ? PAM_SUCCESS : PAM_AUTH_ERR;
                }
                if (s.status == 1) {
                    ++tries;
                    break;
                }
                debug("verification ended: %s", vlclient::describe(s).c_str());
                return PAM_AUTHINFO_UNAVAIL;
            }
            if (tries < opt_.maxTries)
                pam_error(pamh_, "No match, try again");
        }
        return PAM_MAXTRIES;
    }

private:
    int msLeft() const
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

    // Waits briefly for the stopped run's last signal, so that the release
    // does not race the daemon's worker.
    void drain()
    {
        vlclient::Status s;
        while (conn_.waitStatus(s, 8000, nullptr) == 1)
            if (!s.enroll && s.status != 3)
                return;
    }

    template <typename... A> void debug(const char *fmt, A... args)
    {
        if (opt_.debug)
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

PAM_EXTERN __attribute__((visibility("default"))) int pam_sm_authenticate(pam_handle_t *pamh, int,
                                                                          int argc, const char **argv)
{
    Options opt = parseOptions(pamh, argc, argv);
    const char *user = nullptr;
    if (pam_get_user(pamh, &user, nullptr) != PAM_SUCCESS || user == nullptr || user[0] == '\0')
        return PAM_USER_UNKNOWN;
    if (isRemote(pamh))
        return PAM_AUTHINFO_UNAVAIL;
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

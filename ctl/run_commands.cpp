// enroll and verify: claim the sensor, follow the status signals, and always
// stop the run and release the sensor at the end, also on Ctrl-C.
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>

#include "ctl/commands.h"
#include "ctl/name_rules.h"
#include "protocol/run_status.h"

namespace {

std::atomic<bool> s_interrupted{false};

void onSignal(int) { s_interrupted = true; }

// How long the stopped run's last signal may take to arrive after the
// release was answered; the daemon sends it before that answer.
constexpr int LAST_SIGNAL_MS = 2000;
// A person may take their time to touch the sensor.
constexpr int FOREVER_MS = 24 * 3600 * 1000;

constexpr int EXIT_INTERRUPTED = 130;

// One claimed enrollment or verification run. However the command ends, a
// run that may still be going is stopped, and the sensor is released.
class Run {
public:
    Run(vlclient::Connection &conn, bool enroll) : conn_(conn), enroll_(enroll)
    {
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            sigaction(sig, &sa, nullptr);
    }
    ~Run()
    {
        if (!claimed_)
            return;
        vlclient::Error err;
        if (running_)
            conn_.stopAndRelease(enroll_, 0, nullptr, err);
        else
            conn_.claim(false, err);
    }

    bool start(const std::function<bool(vlclient::Error &)> &call, vlclient::Error &err)
    {
        if (!(claimed_ = conn_.claim(true, err)))
            return false;
        return running_ = call(err);
    }

    // After a sensor error: the sensor is released and asked for; true when
    // it is no longer plugged in (the State property reads 0 once released).
    bool sensorGone()
    {
        vlclient::Error err;
        if (claimed_ && !running_ && conn_.claim(false, err))
            claimed_ = false;
        std::string state;
        return !claimed_ && conn_.getProperty("State", state, err) && state == "0";
    }

    // Why the run could not start, printed; returns the exit status. A claim
    // the daemon could not open may just mean that no sensor is plugged in.
    int startFailed(const vlclient::Error &err)
    {
        if (err.refusedByDaemon() && err.message == "OpenDevice fail.") {
            std::string state;
            vlclient::Error e;
            if (conn_.getProperty("State", state, e) && state == "0") {
                std::fprintf(stderr, "vorl2547-ctl: no fingerprint sensor is plugged in\n");
                return EXIT_ERROR;
            }
        }
        return reportError(err);
    }

    enum class Next { Signal, Quiet, End };

    // The next signal of this run within timeoutMs. End: the command is
    // over (interrupted, or the daemon went away), with its exit status.
    Next next(vlclient::Status &s, int timeoutMs, int &exitStatus)
    {
        for (;;) {
            switch (conn_.waitStatus(s, timeoutMs, &s_interrupted)) {
            case vlclient::Wait::Signal:
                if (s.enroll != enroll_)
                    continue;
                if (!s.isStep())
                    running_ = false;
                return Next::Signal;
            case vlclient::Wait::Timeout: return Next::Quiet;
            case vlclient::Wait::Interrupted: exitStatus = interrupt(); return Next::End;
            case vlclient::Wait::Lost:
                std::fprintf(stderr, "vorl2547-ctl: the fingerprint daemon went away\n");
                running_ = false;
                exitStatus = EXIT_ERROR;
                return Next::End;
            }
        }
    }

private:
    int interrupt()
    {
        std::fprintf(stderr, "interrupted: stopping the %s\n", enroll_ ? "enrollment" : "verification");
        vlclient::Status last;
        last.status = -1;
        vlclient::Error err;
        claimed_ = running_ = false;
        if (!conn_.stopAndRelease(enroll_, LAST_SIGNAL_MS, &last, err))
            std::fprintf(stderr, "vorl2547-ctl: could not release the sensor: %s\n", err.describe().c_str());
        // Our own stop: a verification's "stopped or nothing enrolled" is
        // known to be the former.
        if (!enroll_ && last.status == VERIFY_ENDED)
            std::fprintf(stderr, "verification stopped\n");
        else if (last.status >= 0)
            std::fprintf(stderr, "%s\n", vlclient::describe(last).c_str());
        return EXIT_INTERRUPTED;
    }

    vlclient::Connection &conn_;
    bool enroll_;
    bool claimed_ = false;
    bool running_ = false;
};

// On a terminal one bar redrawn in place; otherwise a plain line per step.
class Progress {
public:
    Progress() : tty_(isatty(STDOUT_FILENO)) {}
    ~Progress() { end(); }
    void show(const vlclient::Status &s)
    {
        if (!tty_) {
            std::printf("%s\n", vlclient::describe(s).c_str());
            std::fflush(stdout);
            return;
        }
        constexpr int WIDTH = 30;
        int pct = s.progress < 0 ? 0 : s.progress > 100 ? 100 : s.progress;
        int filled = pct * WIDTH / 100;
        std::printf("\r[%s%s] %3d%%  lift and touch the sensor again", std::string(filled, '#').c_str(),
                    std::string(WIDTH - filled, '.').c_str(), pct);
        std::fflush(stdout);
        drawn_ = true;
    }
    void end()
    {
        if (drawn_)
            std::printf("\n");
        drawn_ = false;
    }

private:
    bool tty_;
    bool drawn_ = false;
};

// A run ended by the sensor: named as gone when it was unplugged.
int sensorError(Run &run, const vlclient::Status &s)
{
    if (run.sensorGone())
        std::fprintf(stderr, "vorl2547-ctl: the sensor went away (was it unplugged?)\n");
    else
        std::fprintf(stderr, "vorl2547-ctl: %s\n", vlclient::describe(s).c_str());
    return EXIT_ERROR;
}

} // namespace

int cmdEnroll(vlclient::Connection &conn, const Args &args, const Options &opts)
{
    const std::string &user = args[0];
    const std::string &finger = args[1];
    // Every reason the daemon would refuse for, told apart before the call.
    for (const std::string &problem : {userIdProblem(user), fingerNameProblem(finger)})
        if (!problem.empty())
            return refuse(problem);
    // Only the account's own name lets its owner log in with the finger.
    if (!opts.anyUser && getpwnam(user.c_str()) == nullptr)
        return refuse("there is no user account named " + user + " (--any-user enrolls it anyway)");
    std::vector<std::string> fingers;
    int status;
    if (!fingersOf(conn, user, fingers, status))
        return status;
    if (contains(fingers, finger))
        return refuse(user + " already has a finger named " + finger);
    if (fingers.size() >= CTL_MAX_FINGERS)
        return refuse(user + " already has " + std::to_string(CTL_MAX_FINGERS) +
                      " fingers, the most a user can enroll");
    Run run(conn, true);
    vlclient::Error err;
    if (!run.start([&](vlclient::Error &e) { return conn.enroll(user, finger, e); }, err))
        return run.startFailed(err);
    Progress bar;
    bool prompted = false;
    for (;;) {
        vlclient::Status s;
        int exitStatus;
        // A refusal (a duplicate, too many fingers) is already queued when
        // the call returns: no prompt for it.
        Run::Next n = run.next(s, prompted ? FOREVER_MS : 0, exitStatus);
        if (n == Run::Next::End) {
            bar.end();
            return exitStatus;
        }
        if (n == Run::Next::Quiet) {
            if (!prompted)
                std::printf("Enrolling %s for %s: touch the sensor nine times.\n", finger.c_str(), user.c_str());
            std::fflush(stdout);
            prompted = true;
            continue;
        }
        if (s.isStep()) {
            bar.show(s);
            continue;
        }
        bar.end();
        if (s.status == ENROLL_DONE) {
            std::printf("%s: %s of %s\n", vlclient::describe(s).c_str(), finger.c_str(), user.c_str());
            return 0;
        }
        if (s.status == ENROLL_SENSOR_ERROR)
            return sensorError(run, s);
        std::fprintf(stderr, "vorl2547-ctl: %s\n", vlclient::describe(s).c_str());
        return EXIT_NO;
    }
}

// The result goes to standard output, the prompts to standard error, so
// that `user=$(vorl2547-ctl verify)` gets the user alone. With a user, the
// daemon compares that user's fingers only, as at a login.
int cmdVerify(vlclient::Connection &conn, const Args &args, const Options &opts)
{
    const std::string finger = opts.finger.empty() ? "any" : opts.finger;
    const std::string user = args.empty() ? "" : args[0];
    // Someone with nothing to compare with is not asked for a finger, as at
    // a login.
    if (!user.empty()) {
        std::vector<std::string> fingers;
        int status;
        if (!someFingersOf(conn, user, fingers, status))
            return status;
        if (!opts.finger.empty() && !contains(fingers, opts.finger))
            return refuse(user + " has no finger named " + opts.finger);
    }
    Run run(conn, false);
    vlclient::Error err;
    auto start = [&](vlclient::Error &e) {
        return user.empty() ? conn.verify(finger, e) : conn.verifyUser(user, finger, e);
    };
    if (!run.start(start, err))
        return run.startFailed(err);
    std::fprintf(stderr, "Place your finger on the sensor.\n");
    for (;;) {
        vlclient::Status s;
        int exitStatus;
        Run::Next n = run.next(s, FOREVER_MS, exitStatus);
        if (n == Run::Next::End)
            return exitStatus;
        if (n == Run::Next::Quiet)
            continue;
        switch (s.status) {
        case VERIFY_MATCH:
            if (!user.empty() && s.id != user)
                return refuse("not " + user + "'s finger");
            if (!s.finger.empty())
                std::fprintf(stderr, "%s\n", vlclient::describe(s).c_str());
            std::printf("%s\n", s.id.c_str());
            return 0;
        case VERIFY_RETRY: std::fprintf(stderr, "%s\n", vlclient::describe(s).c_str()); continue;
        case VERIFY_NO_MATCH:
            // Another user's finger and a stranger's look the same from here.
            if (!user.empty())
                return refuse("not " + user + "'s finger");
            [[fallthrough]];
        case VERIFY_ENDED: std::fprintf(stderr, "vorl2547-ctl: %s\n", vlclient::describe(s).c_str()); return EXIT_NO;
        default: return sensorError(run, s);
        }
    }
}

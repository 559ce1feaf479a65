// enroll and verify: claim the sensor, follow the status signals, and always
// stop the run and release the sensor at the end, also on Ctrl-C.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "ctl/commands.h"

namespace {

std::atomic<bool> s_interrupted{false};

void onSignal(int) { s_interrupted = true; }

// How long the final signal of a stopped run may take: the daemon notices a
// stop within one receive timeout.
constexpr int STOP_GRACE_MS = 8000;

class ClaimedSensor {
public:
    explicit ClaimedSensor(vlclient::Connection &conn) : conn_(conn)
    {
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
    }
    ~ClaimedSensor()
    {
        if (claimed_) {
            vlclient::Error err;
            conn_.claim(false, err);
        }
    }
    bool claim(vlclient::Error &err) { return claimed_ = conn_.claim(true, err); }

private:
    vlclient::Connection &conn_;
    bool claimed_ = false;
};

class ProgressBar {
public:
    ProgressBar() : tty_(isatty(STDOUT_FILENO)) {}
    void show(const vlclient::Status &s)
    {
        if (!tty_) {
            std::printf("%s\n", vlclient::describe(s).c_str());
            std::fflush(stdout);
            return;
        }
        constexpr int WIDTH = 30;
        int filled = s.progress * WIDTH / 100;
        std::printf("\r[%-*s] %3d %%  touch the sensor again", WIDTH, std::string(filled, '#').c_str(), s.progress);
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

// After a stop, waits for the run's final signal so that the release does
// not race the worker.
void drainRun(vlclient::Connection &conn, bool enroll)
{
    vlclient::Status s;
    while (conn.waitStatus(s, STOP_GRACE_MS, nullptr) == 1) {
        bool final = s.enroll == enroll && (enroll ? s.status != 2 : s.status != 3);
        if (final)
            return;
    }
}

} // namespace

int cmdEnroll(vlclient::Connection &conn, const Args &args)
{
    const std::string &user = args[0];
    const std::string &finger = args[1];
    ClaimedSensor sensor(conn);
    vlclient::Error err;
    if (!sensor.claim(err) || !conn.enroll(user, finger, err))
        return reportError(err);
    std::printf("Enrolling %s for %s: touch the sensor nine times.\n", finger.c_str(), user.c_str());
    std::fflush(stdout);
    ProgressBar bar;
    for (;;) {
        vlclient::Status s;
        int got = conn.waitStatus(s, 24 * 3600 * 1000, &s_interrupted);
        if (got < 0) {
            bar.end();
            if (s_interrupted) {
                std::fprintf(stderr, "interrupted, stopping the enrollment\n");
                conn.stopEnroll(err);
                drainRun(conn, true);
                return 130;
            }
            std::fprintf(stderr, "vorl2547-ctl: lost the connection to the daemon\n");
            return EXIT_ERROR;
        }
        if (got == 0 || !s.enroll)
            continue;
        if (s.status == 2) {
            bar.show(s);
            continue;
        }
        bar.end();
        if (s.status == 0) {
            std::printf("%s: %s of %s\n", vlclient::describe(s).c_str(), finger.c_str(), user.c_str());
            return 0;
        }
        std::fprintf(stderr, "vorl2547-ctl: %s\n", vlclient::describe(s).c_str());
        return s.status == 4 ? EXIT_ERROR : EXIT_NO;
    }
}

int cmdVerify(vlclient::Connection &conn, const Args &args)
{
    const std::string finger = args.empty() ? "any" : args[0];
    ClaimedSensor sensor(conn);
    vlclient::Error err;
    if (!sensor.claim(err) || !conn.verify(finger, err))
        return reportError(err);
    std::printf("Place your finger on the sensor.\n");
    std::fflush(stdout);
    for (;;) {
        vlclient::Status s;
        int got = conn.waitStatus(s, 24 * 3600 * 1000, &s_interrupted);
        if (got < 0) {
            if (s_interrupted) {
                std::fprintf(stderr, "interrupted, stopping the verification\n");
                conn.stopVerify(err);
                drainRun(conn, false);
                return 130;
            }
            std::fprintf(stderr, "vorl2547-ctl: lost the connection to the daemon\n");
            return EXIT_ERROR;
        }
        if (got == 0 || s.enroll)
            continue;
        switch (s.status) {
        case 0:
            std::printf("%s\n", s.id.c_str());
            return 0;
        case 3:
            std::printf("%s\n", vlclient::describe(s).c_str());
            std::fflush(stdout);
            continue;
        case 1:
            std::printf("%s\n", vlclient::describe(s).c_str());
            return EXIT_NO;
        default:
            std::fprintf(stderr, "vorl2547-ctl: %s\n", vlclient::describe(s).c_str());
            return EXIT_ERROR;
        }
    }
}

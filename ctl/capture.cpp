// vorl2547-ctl capture: frames straight from the sensor through the daemon's
// own USB transport, written as images with their statistics, so that a
// person can see what a real sensor sends.
//
// The daemon owns the sensor while it runs. Capture steps aside instead of
// fighting it: it refuses while the daemon reports the sensor claimed
// (State 2), and it claims interface 0 like any other program, so that a
// claim the daemon holds (or takes first) makes the kernel refuse ours.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/client.h"
#include "ctl/bus_probe.h"
#include "ctl/commands.h"
#include "ctl/device_commands.h"
#include "ctl/frame_files.h"
#include "ctl/frame_stats.h"
#include "protocol/sensor_frames.h"
#include "usb/vlUsb.h"

namespace {

constexpr int RECEIVE_SECONDS = 3; // the daemon's own receive timeout
constexpr int MAX_COUNT = 1000;

volatile sig_atomic_t s_interrupted = 0;
void onInterrupt(int) { s_interrupted = 1; }

int captureUsage(const char *why)
{
    if (why)
        std::fprintf(stderr, "vorl2547-ctl: %s\n", why);
    std::fputs("Usage: vorl2547-ctl capture [--count N] [--wait SECONDS] --out FILE.pgm|FILE.png\n", stderr);
    return EXIT_USAGE;
}

bool parseNumber(const char *text, int lo, int hi, int &out)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || *end || end == text || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

// Whether the daemon holds the sensor. A daemon that is not running, or a
// bus that cannot be reached, holds nothing.
bool daemonHoldsSensor()
{
    const NameProbe p = probeName(vlclient::SERVICE, 2000);
    if (!p.owned)
        return false;
    std::string why;
    return daemonState(5000, why) == 2;
}

// The transport reports its progress on standard output; the frames'
// statistics go there too, so the transport's lines are sent to /dev/null
// while the sensor is open and the report keeps its own copy of stdout.
struct QuietTransport {
    FILE *report = nullptr;
    int saved = -1;
    QuietTransport()
    {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved >= 0 && null >= 0)
            dup2(null, STDOUT_FILENO);
        if (null >= 0)
            close(null);
        report = saved >= 0 ? fdopen(dup(saved), "w") : stdout;
    }
    ~QuietTransport()
    {
        if (report && report != stdout)
            std::fclose(report);
        std::fflush(stdout);
        if (saved >= 0) {
            dup2(saved, STDOUT_FILENO);
            close(saved);
        }
    }
};

// One frame: begin-capture, then receives until a frame arrives, the wait
// is over or the user interrupts. 0 a frame, 1 none in time, 130
// interrupted, 2 a transfer failed (errorOut: the transport's result).
int takeFrame(uint8_t *frame, int waitS, bool &askedForFinger, int &errorOut)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitS);
    for (;;) {
        if (s_interrupted)
            return 130;
        const int sent = ssUsbTxAsyn(nullptr, m_capture_beg_cmd, VL_CMD_SIZE);
        if (sent != 0) {
            errorOut = sent;
            return 2;
        }
        // A short frame must not show the bytes of the frame before.
        std::memset(frame, 0, VL_FRAME_SIZE);
        const int length = VL_FRAME_SIZE;
        const int r = ssUsbRxdAsyn(nullptr, frame, &length, RECEIVE_SECONDS);
        if (r == 0)
            return 0;
        if (r != XFER_TIMEOUT && r != XFER_CANCELLED) {
            errorOut = r;
            return 2;
        }
        // No finger: the sensor sends nothing until one is on it.
        if (!askedForFinger) {
            std::fprintf(stderr, "Place your finger on the sensor\n");
            askedForFinger = true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return 1;
    }
}

} // namespace

int cmdCapture(int argc, char **argv)
{
    static const option options[] = {
        {"count", required_argument, nullptr, 'c'},
        {"out", required_argument, nullptr, 'o'},
        {"wait", required_argument, nullptr, 'w'},
        {nullptr, 0, nullptr, 0},
    };
    int count = 1;
    int waitS = 30;
    std::string out;
    optind = 0;
    opterr = 0;
    int opt;
    while ((opt = getopt_long(argc, argv, "", options, nullptr)) != -1) {
        if (opt == 'c' && parseNumber(optarg, 1, MAX_COUNT, count))
            continue;
        if (opt == 'w' && parseNumber(optarg, 1, 3600, waitS))
            continue;
        if (opt == 'o') {
            out = optarg;
            continue;
        }
        return captureUsage(opt == 'c'   ? "--count wants a number from 1 to 1000"
                            : opt == 'w' ? "--wait wants a number of seconds (1 to 3600)"
                                         : "capture takes --count, --wait and --out");
    }
    if (optind != argc)
        return captureUsage("capture takes no arguments besides its options");
    ImageFormat format;
    if (out.empty() || !imageFormatOf(out, format))
        return captureUsage("--out wants a file name ending in .pgm or .png");
    if (geteuid() != 0) {
        std::fprintf(stderr, "vorl2547-ctl: capture talks to the sensor itself, which only root may do\n");
        return EXIT_ERROR;
    }

    if (daemonHoldsSensor()) {
        std::fprintf(stderr, "vorl2547-ctl: the daemon holds the sensor (a run or a claim); "
                             "try again when it is done\n");
        return EXIT_ERROR;
    }

    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    QuietTransport quiet;
    const int opened = ssUsbOpen();
    if (opened == -6) {
        std::fprintf(stderr, "vorl2547-ctl: the sensor is held by another program (the daemon's claim, or "
                             "a kernel driver that would not let go); try again when it is done\n");
        return EXIT_ERROR;
    }
    if (opened != 0) {
        std::fprintf(stderr, "vorl2547-ctl: no sensor found (USB %04x:%04x)%s\n", ss_Vid, ss_Pid,
                     opened == -3 ? ": libusb cannot start" : "");
        return EXIT_ERROR;
    }

    static uint8_t frame[VL_FRAME_SIZE];
    static uint16_t samples[VL_IMG_PIXELS];
    bool asked = false;
    int status = 0;
    for (int i = 1; i <= count && status == 0; ++i) {
        int transferResult = 0;
        const int got = takeFrame(frame, waitS, asked, transferResult);
        if (got == 1) {
            std::fprintf(stderr, "vorl2547-ctl: no frame within %d seconds (no finger on the sensor?)\n", waitS);
            status = EXIT_NO;
            break;
        }
        if (got == 130) {
            status = 130;
            break;
        }
        if (got != 0) {
            std::fprintf(stderr, "vorl2547-ctl: the sensor failed during frame %d (transfer result %d)\n", i,
                         transferResult);
            status = EXIT_ERROR;
            break;
        }
        unpackFrame(frame, samples);
        const std::string path = framePath(out, i, count, false);
        const std::string preview = framePath(out, i, count, true);
        if (!writeFrame16(path, format, samples) || !writePreview8(preview, format, samples)) {
            std::fprintf(stderr, "vorl2547-ctl: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            status = EXIT_ERROR;
            break;
        }
        const FrameStats s = frameStats(samples);
        std::fprintf(quiet.report,
                     "frame %d: %s  min %d  max %d  mean %.1f  ridges %.0f%%  finger %s (%.0f%% of the window)\n", i,
                     path.c_str(), s.min, s.max, s.mean, 100 * s.ridgeShare, s.fingerPresent ? "yes" : "no",
                     100 * s.coverage);
        std::fflush(quiet.report);
    }
    // Ends the sensor's capture, as the daemon does after a run.
    ssUsbTxAsyn(nullptr, m_capture_end_cmd, VL_CMD_SIZE);
    ssUsbClose();
    return status;
}

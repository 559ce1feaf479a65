// vorl2547-sim: runs a program (the daemon) against an emulated sensor and
// takes control commands on a UNIX socket; or, with --ctl, sends one command
// to such a socket and prints the answer.
//
//   vorl2547-sim --socket PATH [--ports 1.4.2] [--unplugged] [--kernel-driver]
//                [--extra-sensor PORTS] [--record DIR] -- PROGRAM [ARGS...]
//   vorl2547-sim --ctl PATH COMMAND [ARGS...]
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_control.h"
#include "sim/sim_testbed.h"

namespace {

volatile sig_atomic_t s_stopSignal = 0;

void onStopSignal(int sig) { s_stopSignal = sig; }

void usage(FILE *out = stderr)
{
    fprintf(out, "usage: vorl2547-sim --socket PATH [--ports P.P..] [--unplugged] [--kernel-driver]\n"
                 "                    [--extra-sensor P.P..] [--record DIR] -- PROGRAM [ARGS...]\n"
                 "  --record DIR: the sensor's description (DIR/device.umockdev) and every URB\n"
                 "  the program gets back (DIR/sensor.ioctl), as umockdev records a real device\n"
                 "       vorl2547-sim --ctl PATH COMMAND [ARGS...]\n");
}

bool parsePorts(const char *text, std::vector<int> &ports)
{
    ports.clear();
    std::string s(text);
    size_t start = 0;
    while (start <= s.size()) {
        const size_t dot = s.find('.', start);
        const std::string part = s.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        char *end = nullptr;
        const long v = strtol(part.c_str(), &end, 10);
        if (part.empty() || *end || v < 1 || v > 255)
            return false;
        ports.push_back(static_cast<int>(v));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return !ports.empty() && ports.size() <= 7;
}

int unixSocket(const std::string &path, sockaddr_un &addr)
{
    if (path.size() >= sizeof addr.sun_path) {
        fprintf(stderr, "vorl2547-sim: socket path too long\n");
        return -1;
    }
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.c_str(), path.size());
    return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

int runClient(const std::string &path, int argc, char **argv)
{
    std::string line;
    for (int i = 0; i < argc; ++i)
        line += (i ? " " : "") + std::string(argv[i]);
    sockaddr_un addr;
    const int fd = unixSocket(path, addr);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        fprintf(stderr, "vorl2547-sim: cannot connect to %s: %s\n", path.c_str(), strerror(errno));
        return 2;
    }
    line += "\n";
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        close(fd);
        return 2;
    }
    std::string reply;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        reply.append(buf, static_cast<size_t>(n));
    close(fd);
    fputs(reply.c_str(), stdout);
    return reply.rfind("ok", 0) == 0 ? 0 : 1;
}

// One command per connection: read a line, answer it, close.
void serveOne(int listenFd, sim::Testbed &testbed)
{
    const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    std::string line;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (line.size() < 4096 && poll(&p, 1, 2000) > 0 && read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    std::string reply = sim::runControl(testbed, line) + "\n";
    ssize_t ignored = write(fd, reply.data(), reply.size());
    (void)ignored;
    close(fd);
}

bool startRecording(sim::Testbed &testbed, const std::string &dir)
{
    const int dev = testbed.firstSensor();
    const std::string description = dir + "/device.umockdev";
    FILE *f = fopen(description.c_str(), "w");
    if (dev < 0 || !f || fputs(testbed.description(dev).c_str(), f) < 0 || fclose(f) != 0) {
        fprintf(stderr, "vorl2547-sim: cannot write %s\n", description.c_str());
        return false;
    }
    try {
        testbed.record(dev, std::make_shared<sim::IoctlLog>(dir + "/sensor.ioctl", testbed.devNode(dev)));
    } catch (const std::exception &e) {
        fprintf(stderr, "vorl2547-sim: %s\n", e.what());
        return false;
    }
    return true;
}

pid_t startProgram(char **argv)
{
    std::string preload = "libumockdev-preload.so.0";
    if (const char *old = getenv("LD_PRELOAD"); old && *old)
        preload += std::string(" ") + old;
    // A sanitized program would refuse to start with the preload ahead of
    // its runtime; the interception works all the same.
    std::string asan = "verify_asan_link_order=0";
    if (const char *old = getenv("ASAN_OPTIONS"); old && *old)
        asan = std::string(old) + ":" + asan;
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("LD_PRELOAD", preload.c_str(), 1);
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
        execvp(argv[0], argv);
        fprintf(stderr, "vorl2547-sim: cannot run %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    return pid;
}

int waitStopped(pid_t child)
{
    kill(child, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return 0;
        usleep(100000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    static const option options[] = {
        {"socket", required_argument, nullptr, 's'},
        {"ctl", required_argument, nullptr, 'c'},
        {"ports", required_argument, nullptr, 'p'},
        {"extra-sensor", required_argument, nullptr, 'e'},
        {"unplugged", no_argument, nullptr, 'u'},
        {"kernel-driver", no_argument, nullptr, 'k'},
        {"record", required_argument, nullptr, 'r'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    std::string socketPath;
    std::string ctlPath;
    std::string recordDir;
    std::vector<sim::DeviceDesc> devices(1);
    int opt;
    while ((opt = getopt_long(argc, argv, "+s:c:p:e:ukr:h", options, nullptr)) != -1) {
        switch (opt) {
        case 's': socketPath = optarg; break;
        case 'c': ctlPath = optarg; break;
        case 'p':
            if (!parsePorts(optarg, devices[0].ports)) {
                fprintf(stderr, "vorl2547-sim: bad port path '%s'\n", optarg);
                return 2;
            }
            break;
        case 'e': {
            sim::DeviceDesc extra;
            if (!parsePorts(optarg, extra.ports)) {
                fprintf(stderr, "vorl2547-sim: bad port path '%s'\n", optarg);
                return 2;
            }
            devices.push_back(extra);
            break;
        }
        case 'u': devices[0].plugged = false; break;
        case 'k': devices[0].kernelDriver = true; break;
        case 'r': recordDir = optarg; break;
        case 'h': usage(stdout); return 0;
        default: usage(); return 2;
        }
    }
    if (!ctlPath.empty())
        return optind < argc ? runClient(ctlPath, argc - optind, argv + optind) : (usage(), 2);
    if (socketPath.empty() || optind >= argc) {
        usage();
        return 2;
    }

    // First, before any thread: the testbed sets UMOCKDEV_DIR.
    sim::Testbed testbed(devices);

    if (!recordDir.empty() && !startRecording(testbed, recordDir))
        return 2;

    sockaddr_un addr;
    const int listenFd = unixSocket(socketPath, addr);
    unlink(socketPath.c_str());
    if (listenFd < 0 || bind(listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listenFd, 8) != 0) {
        fprintf(stderr, "vorl2547-sim: cannot listen on %s: %s\n", socketPath.c_str(), strerror(errno));
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    const pid_t child = startProgram(argv + optind);
    int exitCode = 1;
    for (;;) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (s_stopSignal) {
            exitCode = waitStopped(child);
            break;
        }
        pollfd p{listenFd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0)
            serveOne(listenFd, testbed);
    }
    close(listenFd);
    unlink(socketPath.c_str());
    return exitCode;
}

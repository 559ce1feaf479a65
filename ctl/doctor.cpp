// vorl2547-ctl doctor: one screen of what must be right for the sensor to
// work, each failure with its fix. It reads the same environment overrides
// as the daemon (VORL2547_TEMPLATE_DIR, VORL2547_LOG_FILE), so a sandbox is
// checked as it is set up.
#include <dirent.h>
#include <grp.h>
#include <libusb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "client/client.h"
#include "ctl/bus_probe.h"
#include "ctl/commands.h"
#include "ctl/device_commands.h"
#include "engine/template_paths.h"
#include "log/log.h"
#include "protocol/sensor_ids.h"
#include "usb/vlUsb.h"

namespace {

constexpr char FPRINT_NAME[] = "net.reactivated.Fprint";
constexpr char PAM_PROFILE[] = "/usr/share/pam-configs/vorl2547";
constexpr char PAM_COMMON_AUTH[] = "/etc/pam.d/common-auth";
constexpr char FRONTEND_EXE[] = "/usr/libexec/vorl2547/vorl2547-fprintd";

struct Report {
    int failures = 0;
    void line(bool ok, const char *what, const std::string &text, const std::string &fix = "")
    {
        std::printf("%-5s %-9s %s\n", ok ? "ok" : "FAIL", what, text.c_str());
        if (!ok) {
            ++failures;
            if (!fix.empty())
                std::printf("%-15s fix: %s\n", "", fix.c_str());
        }
    }
    void note(const char *what, const std::string &text) { std::printf("%-5s %-9s %s\n", "--", what, text.c_str()); }
};

std::string octal(mode_t mode)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

std::string groupName(gid_t gid)
{
    const group *g = getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

void checkSensor(Report &r)
{
    char list[SS_DEV_LIST_SIZE] = {};
    const int count = ssUsblst(list, sizeof list, VL_SENSOR_VID, VL_SENSOR_PID);
    if (count <= 0) {
        r.line(false, "sensor", "no USB device 2541:2547 found", "plug the sensor in; lsusb -d 2541:2547 must list it");
        return;
    }
    std::string text = std::string("present: ") + list + (count > 1 ? " (and more)" : "");
    libusb_device_handle *h = libusb_open_device_with_vid_pid(nullptr, VL_SENSOR_VID, VL_SENSOR_PID);
    if (!h) {
        r.line(true, "sensor", text + "; kernel driver not checked (opening the device needs root)");
        return;
    }
    const int driver = libusb_kernel_driver_active(h, 0);
    libusb_close(h);
    if (driver == 1)
        r.line(false, "sensor", text + "; a kernel driver holds interface 0",
               "the daemon detaches it when it claims the sensor; if it keeps coming back, find it with "
               "'lsusb -t' and blacklist its module in /etc/modprobe.d/");
    else
        r.line(true, "sensor", text + "; no kernel driver on interface 0");
}

// The version line the daemon logs at each start: the line before its last
// "use normal".
std::string loggedVersion(const std::string &logPath)
{
    std::ifstream in(logPath);
    std::string line, previous, version;
    while (std::getline(in, line)) {
        if (line == "use normal")
            version = previous;
        previous = line;
    }
    return version;
}

void checkDaemon(Report &r, int timeoutMs, const std::string &logPath)
{
    const NameProbe p = probeName(vlclient::SERVICE, timeoutMs);
    if (!p.busReachable) {
        r.line(false, "daemon", "the system bus cannot be reached: " + p.busError,
               "systemctl status dbus (the system bus must run)");
        return;
    }
    std::string why;
    // A daemon that is not running starts here, as on any client's first call.
    const int state = daemonState(timeoutMs, why, true);
    if (state < 0) {
        r.line(false, "daemon", "does not answer: " + why,
               "sudo systemctl start vorl2547; 'journalctl -u vorl2547' says why it stopped");
        return;
    }
    const NameProbe now = p.owned ? p : probeName(vlclient::SERVICE, timeoutMs);
    const std::string version = loggedVersion(logPath);
    static const char *const states[] = {"no sensor", "sensor present, not claimed", "claimed by a client"};
    std::string text = "answers";
    if (now.pid)
        text += " (pid " + std::to_string(now.pid) + ")";
    text += ", version " + (version.empty() ? std::string("unknown (no start in the log)") : version);
    text += ", State " + std::to_string(state) + " (" + (state >= 0 && state <= 2 ? states[state] : "?") + ")";
    r.line(true, "daemon", text);
}

// Counts *.Data files; sets `loose` to the first entry others may read.
void walkStore(const std::string &dir, int depth, int &fingers, int &users, std::string &loose)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    while (const dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string path = dir + "/" + e->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        if (loose.empty() && (st.st_uid != 0 || (st.st_mode & 077) != 0))
            loose = path + " (mode " + octal(st.st_mode) + ", owner uid " + std::to_string(st.st_uid) + ")";
        if (depth == 0 && S_ISDIR(st.st_mode)) {
            const int before = fingers;
            walkStore(path, 1, fingers, users, loose);
            users += fingers > before;
        } else if (depth == 1 && S_ISREG(st.st_mode)) {
            const size_t len = std::strlen(e->d_name);
            if (len > VL_TEMPLATE_SUFFIX_LEN &&
                std::strcmp(e->d_name + len - VL_TEMPLATE_SUFFIX_LEN, VL_TEMPLATE_SUFFIX) == 0)
                ++fingers;
        }
    }
    closedir(d);
}

void checkStore(Report &r, bool root)
{
    std::string base = templateBaseDir();
    if (base.size() > 1 && base.back() == '/')
        base.pop_back();
    struct stat st;
    if (stat(base.c_str(), &st) != 0) {
        r.line(true, "store", base + " not there yet (the first enrollment makes it)");
        r.note("fingers", "none stored");
        return;
    }
    if (!root) {
        r.line(true, "store", base + " (its contents need root to check)");
        return;
    }
    int fingers = 0, users = 0;
    std::string loose;
    if (st.st_uid != 0 || (st.st_mode & 077) != 0)
        loose = base + " (mode " + octal(st.st_mode) + ", owner uid " + std::to_string(st.st_uid) + ")";
    walkStore(base, 0, fingers, users, loose);
    if (loose.empty())
        r.line(true, "store", base + ", readable by root only");
    else
        r.line(false, "store", "others may read the templates: " + loose,
               "sudo chown -R root:root " + base + " && sudo chmod -R go-rwx " + base);
    r.note("fingers", std::to_string(fingers) + (fingers == 1 ? " finger" : " fingers") + " stored for " +
                          std::to_string(users) + (users == 1 ? " user" : " users"));
}

void checkLog(Report &r, const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        r.line(true, "log", path + " not written yet (the daemon makes it when it starts)");
        return;
    }
    const std::string text = path + ", mode " + octal(st.st_mode) + ", owner uid " + std::to_string(st.st_uid) +
                             ", group " + groupName(st.st_gid);
    // It names who verified and when.
    if ((st.st_mode & 0007) != 0 || (st.st_mode & 0022) != 0 || st.st_uid != 0)
        r.line(false, "log", text + ": others may read or write it",
               "sudo chown root:adm " + path + " && sudo chmod 0640 " + path);
    else
        r.line(true, "log", text);
}

bool fileHolds(const char *path, const char *text)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line[start] != '#' && line.find(text) != std::string::npos)
            return true;
    }
    return false;
}

void checkPam(Report &r)
{
    const bool installed = access(PAM_PROFILE, F_OK) == 0;
    const bool ours = fileHolds(PAM_COMMON_AUTH, "pam_vorl2547.so");
    const bool fprintd = fileHolds(PAM_COMMON_AUTH, "pam_fprintd.so");
    if (ours && fprintd)
        r.line(false, "pam", "both pam_vorl2547 and pam_fprintd are on: every login asks for the finger twice",
               "sudo pam-auth-update, and keep one of the two fingerprint profiles ticked");
    else if (ours)
        r.line(true, "pam", "the vorl2547 profile is enabled");
    else
        r.line(true, "pam",
               std::string("the vorl2547 profile is ") +
                   (installed ? "not enabled (sudo pam-auth-update turns it on)" : "not installed") +
                   (fprintd ? "; pam_fprintd is on" : ""));
}

// Processes named fprintd: the stock daemon, which would fight the front end
// for its bus name and the sensor.
std::vector<unsigned> stockFprintd()
{
    std::vector<unsigned> pids;
    DIR *d = opendir("/proc");
    if (!d)
        return pids;
    while (const dirent *e = readdir(d)) {
        char *end = nullptr;
        const unsigned long pid = std::strtoul(e->d_name, &end, 10);
        if (*end || pid == 0)
            continue;
        std::ifstream comm(std::string("/proc/") + e->d_name + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == "fprintd")
            pids.push_back(static_cast<unsigned>(pid));
    }
    closedir(d);
    return pids;
}

void checkFrontend(Report &r, int timeoutMs)
{
    const NameProbe p = probeName(FPRINT_NAME, timeoutMs);
    const std::vector<unsigned> stock = stockFprintd();
    if (!stock.empty()) {
        r.line(false, "fprintd",
               "a stock fprintd is running (pid " + std::to_string(stock[0]) + ") and fights the front end for " +
                   FPRINT_NAME + " and the sensor",
               "sudo systemctl stop fprintd && sudo apt install ./vorl2547-fprintd_*.deb (it replaces fprintd)");
        return;
    }
    if (p.owned) {
        const std::string exe = processExe(p.pid);
        const bool ours = exe.find("vorl2547-fprintd") != std::string::npos;
        // Without root another user's executable cannot be read.
        if (!ours && !exe.empty())
            r.line(false, "fprintd", std::string(FPRINT_NAME) + " is owned by " + exe + ", not vorl2547-fprintd",
                   "stop that program; 'apt install ./vorl2547-fprintd_*.deb' gives the name to the front end");
        else
            r.line(true, "fprintd",
                   std::string("vorl2547-fprintd owns ") + FPRINT_NAME + " (pid " + std::to_string(p.pid) + ")");
        return;
    }
    r.line(true, "fprintd",
           access(FRONTEND_EXE, X_OK) == 0 ? "vorl2547-fprintd is installed and starts on a desktop's first call"
                                           : "vorl2547-fprintd is not installed (only desktops need it)");
}

} // namespace

int cmdDoctor(int argc, char **, int timeoutS)
{
    if (argc != 1) {
        std::fprintf(stderr, "vorl2547-ctl: doctor takes no arguments\n");
        return EXIT_USAGE;
    }
    const char *env = std::getenv("VORL2547_LOG_FILE");
    const std::string logPath = env && *env ? env : VLLOG_DEFAULT_PATH;
    const bool root = geteuid() == 0;
    const int timeoutMs = timeoutS * 1000;

    Report r;
    checkSensor(r);
    checkDaemon(r, timeoutMs, logPath);
    checkStore(r, root);
    checkLog(r, logPath);
    checkPam(r);
    checkFrontend(r, timeoutMs);
    if (!root)
        std::printf("\nRun as root to check everything.\n");
    if (r.failures)
        std::printf("\n%d %s to fix.\n", r.failures, r.failures == 1 ? "thing" : "things");
    else
        std::printf("\nAll is well.\n");
    return r.failures ? EXIT_NO : 0;
}

// vorl2547-ctl: enroll, verify, list, rename and delete fingers through the
// vorl2547 daemon, from a shell.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/client.h"
#include "ctl/commands.h"
#include "ctl/device_commands.h"

namespace {

void usage(FILE *out)
{
    std::fputs("Usage: vorl2547-ctl [--timeout SECONDS] COMMAND [OPTIONS] [ARGS]\n"
               "\n"
               "Commands:\n"
               "  status                          show the sensor's name, state, type and capability\n"
               "  list USER                       list USER's enrolled fingers\n"
               "  enroll [--any-user] USER FINGER enroll a new finger (nine touches); --any-user\n"
               "                                  also for a USER with no account on this machine\n"
               "  verify [--finger NAME] [USER]   identify the finger on the sensor; with USER, compare\n"
               "                                  with USER's fingers only; --finger: only fingers so named\n"
               "  delete USER FINGER              delete one finger\n"
               "  delete-all USER                 delete all of USER's fingers\n"
               "  rename USER FINGER NEWNAME      rename a finger\n"
               "  capture [--count N] --out FILE  (root) N frames straight from the sensor into FILE\n"
               "                                  (.pgm or .png, 12-bit samples) with an 8-bit preview\n"
               "  doctor                          check the sensor, the daemon and the installation\n"
               "\n"
               "Options:\n"
               "  -t, --timeout SECONDS  how long to wait for each answer of the daemon (default 10)\n"
               "  -h, --help             show this help\n"
               "\n"
               "enroll and verify wait for the finger until it is done or Ctrl-C.\n"
               "Names that start with '-' go after '--'.\n"
               "Exit status: 0 done (verify: identified), 1 refused, not enrolled or no match,\n"
               "2 error (no daemon, permission denied, sensor missing, busy or failing, bad usage),\n"
               "130 interrupted.\n",
               out);
}

enum Allowed { NONE = 0, FINGER = 1, ANY_USER = 2 };

struct Command {
    const char *name;
    int minArgs;
    int maxArgs;
    int allowed;
    int (*run)(vlclient::Connection &, const Args &, const Options &);
};

const Command COMMANDS[] = {
    {"status", 0, 0, NONE, cmdStatus},   {"list", 1, 1, NONE, cmdList},     {"enroll", 2, 2, ANY_USER, cmdEnroll},
    {"verify", 0, 1, FINGER, cmdVerify}, {"delete", 2, 2, NONE, cmdDelete}, {"delete-all", 1, 1, NONE, cmdDeleteAll},
    {"rename", 3, 3, NONE, cmdRename},
};

int usageError(const char *fmt, const char *what)
{
    std::fprintf(stderr, "vorl2547-ctl: ");
    std::fprintf(stderr, fmt, what);
    std::fprintf(stderr, "\n\n");
    usage(stderr);
    return EXIT_USAGE;
}

// The command's own options and its arguments; false on bad usage.
bool parseCommand(const Command &c, int argc, char **argv, Args &args, Options &opts)
{
    static const option options[] = {
        {"finger", required_argument, nullptr, 'f'},
        {"any-user", no_argument, nullptr, 'a'},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0; // a fresh scan of the command's own argv
    opterr = 0;
    int opt;
    while ((opt = getopt_long(argc, argv, "", options, nullptr)) != -1) {
        if (opt == 'f' && (c.allowed & FINGER)) {
            opts.finger = optarg;
        } else if (opt == 'a' && (c.allowed & ANY_USER)) {
            opts.anyUser = true;
        } else {
            const std::string given = opt == 'f' ? "--finger" : opt == 'a' ? "--any-user" : argv[optind - 1];
            std::fprintf(stderr, "vorl2547-ctl: '%s' does not take the option '%s'\n\n", c.name, given.c_str());
            usage(stderr);
            return false;
        }
    }
    args.assign(argv + optind, argv + argc);
    if (static_cast<int>(args.size()) < c.minArgs || static_cast<int>(args.size()) > c.maxArgs) {
        usageError("wrong number of arguments for '%s'", c.name);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    static const option options[] = {
        {"timeout", required_argument, nullptr, 't'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int timeoutS = 10;
    int opt;
    // "+": the options before the command are ours; the command parses the
    // rest itself.
    while ((opt = getopt_long(argc, argv, "+t:h", options, nullptr)) != -1) {
        switch (opt) {
        case 't': {
            char *end;
            long v = std::strtol(optarg, &end, 10);
            if (*end != '\0' || v <= 0 || v > 86400) {
                std::fprintf(stderr, "vorl2547-ctl: --timeout wants a number of seconds, not '%s'\n", optarg);
                return EXIT_USAGE;
            }
            timeoutS = static_cast<int>(v);
            break;
        }
        case 'h': usage(stdout); return 0;
        default: usage(stderr); return EXIT_USAGE;
        }
    }
    if (optind >= argc) {
        usage(stderr);
        return EXIT_USAGE;
    }
    const char *name = argv[optind];
    // These two work without the daemon, so they open no connection here.
    if (std::strcmp(name, "capture") == 0)
        return cmdCapture(argc - optind, argv + optind);
    if (std::strcmp(name, "doctor") == 0)
        return cmdDoctor(argc - optind, argv + optind, timeoutS);
    for (const Command &c : COMMANDS) {
        if (std::strcmp(c.name, name) != 0)
            continue;
        Args args;
        Options opts;
        if (!parseCommand(c, argc - optind, argv + optind, args, opts))
            return EXIT_USAGE;
        // Names travel as D-Bus strings, which must be UTF-8.
        for (size_t i = 0; i < args.size(); ++i) {
            if (!dbus_validate_utf8(args[i].c_str(), nullptr)) {
                std::fprintf(stderr, "vorl2547-ctl: argument %zu of '%s' is not valid UTF-8 text\n", i + 1, name);
                return EXIT_ERROR;
            }
        }
        if (!dbus_validate_utf8(opts.finger.c_str(), nullptr)) {
            std::fprintf(stderr, "vorl2547-ctl: the name after --finger is not valid UTF-8 text\n");
            return EXIT_ERROR;
        }
        vlclient::Connection conn(timeoutS * 1000);
        vlclient::Error err;
        if (!conn.open(err)) {
            std::fprintf(stderr, "vorl2547-ctl: %s\n", err.describe().c_str());
            return EXIT_ERROR;
        }
        return c.run(conn, args, opts);
    }
    return usageError("unknown command '%s'", name);
}

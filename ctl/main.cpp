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

namespace {

void usage(FILE *out)
{
    std::fputs("Usage: vorl2547-ctl [--timeout SECONDS] COMMAND [ARGS]\n"
               "\n"
               "Commands:\n"
               "  status                      show the sensor's name, state, type and capability\n"
               "  list USER                   list USER's enrolled fingers\n"
               "  enroll USER FINGER          enroll a new finger (nine touches)\n"
               "  verify [FINGER]             identify the finger on the sensor (any finger by default)\n"
               "  delete USER FINGER          delete one finger\n"
               "  delete-all USER             delete all of USER's fingers\n"
               "  rename USER FINGER NEWNAME  rename a finger\n"
               "\n"
               "Options:\n"
               "  -t, --timeout SECONDS  how long to wait for each answer of the daemon (default 10)\n"
               "  -h, --help             show this help\n"
               "\n"
               "enroll and verify wait for the finger until it is done or Ctrl-C.\n"
               "Exit status: 0 done (verify: identified), 1 refused or no match, 2 error,\n"
               "130 interrupted.\n",
               out);
}

struct Command {
    const char *name;
    int minArgs;
    int maxArgs;
    int (*run)(vlclient::Connection &, const std::vector<std::string> &);
};

const Command COMMANDS[] = {
    {"status", 0, 0, cmdStatus},     {"list", 1, 1, cmdList},          {"enroll", 2, 2, cmdEnroll},
    {"verify", 0, 1, cmdVerify},     {"delete", 2, 2, cmdDelete},      {"delete-all", 1, 1, cmdDeleteAll},
    {"rename", 3, 3, cmdRename},
};

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
    // "+": options end at the command, so finger names may start with "-"
    // after a "--".
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
        case 'h':
            usage(stdout);
            return 0;
        default:
            usage(stderr);
            return EXIT_USAGE;
        }
    }
    if (optind >= argc) {
        usage(stderr);
        return EXIT_USAGE;
    }
    const char *name = argv[optind];
    std::vector<std::string> args(argv + optind + 1, argv + argc);
    for (const Command &c : COMMANDS) {
        if (std::strcmp(c.name, name) != 0)
            continue;
        if (static_cast<int>(args.size()) < c.minArgs || static_cast<int>(args.size()) > c.maxArgs) {
            std::fprintf(stderr, "vorl2547-ctl: wrong number of arguments for '%s'\n\n", name);
            usage(stderr);
            return EXIT_USAGE;
        }
        // Names travel as D-Bus strings, which must be UTF-8.
        for (size_t i = 0; i < args.size(); ++i) {
            if (!dbus_validate_utf8(args[i].c_str(), nullptr)) {
                std::fprintf(stderr, "vorl2547-ctl: argument %zu of '%s' is not valid UTF-8 text\n", i + 1, name);
                return EXIT_ERROR;
            }
        }
        vlclient::Connection conn(timeoutS * 1000);
        vlclient::Error err;
        if (!conn.open(err)) {
            std::fprintf(stderr, "vorl2547-ctl: %s\n", err.describe().c_str());
            return EXIT_ERROR;
        }
        return c.run(conn, args);
    }
    std::fprintf(stderr, "vorl2547-ctl: unknown command '%s'\n\n", name);
    usage(stderr);
    return EXIT_USAGE;
}

// Subcommands that only read or change the template store.
#include <cstdio>

#include "ctl/commands.h"

int reportError(const vlclient::Error &err)
{
    std::fprintf(stderr, "vorl2547-ctl: %s\n", err.describe().c_str());
    return err.name == "org.freedesktop.DBus.Error.Failed" ? EXIT_NO : EXIT_ERROR;
}

int cmdStatus(vlclient::Connection &conn, const Args &)
{
    static const char *const STATES[] = {"no sensor", "sensor present", "sensor claimed"};
    vlclient::Error err;
    for (const char *prop : {"Name", "State", "Type", "Capability"}) {
        std::string value;
        if (!conn.getProperty(prop, value, err))
            return reportError(err);
        if (std::string(prop) == "State" && value.size() == 1 && value[0] >= '0' && value[0] <= '2')
            std::printf("%-11s %s (%s)\n", "State:", value.c_str(), STATES[value[0] - '0']);
        else
            std::printf("%-11s %s\n", (std::string(prop) + ":").c_str(), value.c_str());
    }
    return 0;
}

int cmdList(vlclient::Connection &conn, const Args &args)
{
    vlclient::Error err;
    std::vector<std::string> fingers;
    if (!conn.listFingers(args[0], fingers, err))
        return reportError(err);
    for (const std::string &f : fingers)
        std::printf("%s\n", f.c_str());
    if (fingers.empty())
        std::fprintf(stderr, "%s has no enrolled fingers\n", args[0].c_str());
    return 0;
}

int cmdDelete(vlclient::Connection &conn, const Args &args)
{
    vlclient::Error err;
    if (!conn.deleteFinger(args[0], args[1], err))
        return reportError(err);
    std::printf("deleted %s of %s\n", args[1].c_str(), args[0].c_str());
    return 0;
}

int cmdDeleteAll(vlclient::Connection &conn, const Args &args)
{
    vlclient::Error err;
    if (!conn.deleteAllFingers(args[0], err))
        return reportError(err);
    std::printf("deleted all fingers of %s\n", args[0].c_str());
    return 0;
}

int cmdRename(vlclient::Connection &conn, const Args &args)
{
    vlclient::Error err;
    if (!conn.renameFinger(args[0], args[1], args[2], err))
        return reportError(err);
    std::printf("renamed %s of %s to %s\n", args[1].c_str(), args[0].c_str(), args[2].c_str());
    return 0;
}

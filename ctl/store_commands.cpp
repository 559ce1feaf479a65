// Subcommands that only read or change the template store. Before a change
// the user's fingers are listed, so that a refusal can say what is wrong
// (the daemon's own refusal is the same text for every reason).
#include <algorithm>
#include <cstdio>

#include "ctl/commands.h"
#include "ctl/name_rules.h"

namespace {

// The sensor's fixed properties, in words; the values never change.
const char *propertyMeaning(const std::string &prop, const std::string &value)
{
    static const char *const STATES[] = {"no sensor plugged in", "sensor present, not claimed",
                                         "sensor claimed by a program"};
    if (prop == "State" && value.size() == 1 && value[0] >= '0' && value[0] <= '2')
        return STATES[value[0] - '0'];
    if (prop == "Type" && value == "2")
        return "fingerprint sensor";
    if (prop == "Capability" && value == "1")
        return "enrolls and identifies fingers";
    return nullptr;
}

int noFingers(const std::string &user) { return refuse(user + " has no enrolled fingers"); }

} // namespace

int reportError(const vlclient::Error &err)
{
    std::fprintf(stderr, "vorl2547-ctl: %s\n", err.describe().c_str());
    // The daemon failing to open the sensor is a sensor error, not a refusal.
    if (err.refusedByDaemon() && err.message != "OpenDevice fail.")
        return EXIT_NO;
    return EXIT_ERROR;
}

int refuse(const std::string &why)
{
    std::fprintf(stderr, "vorl2547-ctl: %s\n", why.c_str());
    return EXIT_NO;
}

bool fingersOf(vlclient::Connection &conn, const std::string &user, std::vector<std::string> &fingers, int &exitStatus)
{
    vlclient::Error err;
    if (conn.listFingers(user, fingers, err))
        return true;
    exitStatus = reportError(err);
    return false;
}

bool someFingersOf(vlclient::Connection &conn, const std::string &user, std::vector<std::string> &fingers,
                   int &exitStatus)
{
    if (!fingersOf(conn, user, fingers, exitStatus))
        return false;
    if (!fingers.empty())
        return true;
    exitStatus = noFingers(user);
    return false;
}

bool contains(const std::vector<std::string> &names, const std::string &name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

int cmdStatus(vlclient::Connection &conn, const Args &, const Options &)
{
    vlclient::Error err;
    for (const char *prop : {"Name", "State", "Type", "Capability"}) {
        std::string value;
        if (!conn.getProperty(prop, value, err))
            return reportError(err);
        const std::string label = std::string(prop) + ":";
        if (const char *meaning = propertyMeaning(prop, value))
            std::printf("%-11s %s (%s)\n", label.c_str(), value.c_str(), meaning);
        else
            std::printf("%-11s %s\n", label.c_str(), value.c_str());
    }
    return 0;
}

int cmdList(vlclient::Connection &conn, const Args &args, const Options &)
{
    std::vector<std::string> fingers;
    int status;
    if (!someFingersOf(conn, args[0], fingers, status))
        return status;
    for (const std::string &f : fingers)
        std::printf("%s\n", f.c_str());
    return 0;
}

int cmdDelete(vlclient::Connection &conn, const Args &args, const Options &)
{
    const std::string &user = args[0], &finger = args[1];
    std::vector<std::string> fingers;
    int status;
    if (!someFingersOf(conn, user, fingers, status))
        return status;
    if (!contains(fingers, finger))
        return refuse(user + " has no finger named " + finger);
    vlclient::Error err;
    if (!conn.deleteFinger(user, finger, err))
        return reportError(err);
    std::printf("deleted %s of %s\n", finger.c_str(), user.c_str());
    return 0;
}

int cmdDeleteAll(vlclient::Connection &conn, const Args &args, const Options &)
{
    const std::string &user = args[0];
    std::vector<std::string> fingers;
    int status;
    if (!someFingersOf(conn, user, fingers, status))
        return status;
    vlclient::Error err;
    if (!conn.deleteAllFingers(user, err))
        return reportError(err);
    std::printf("deleted all fingers of %s\n", user.c_str());
    return 0;
}

int cmdRename(vlclient::Connection &conn, const Args &args, const Options &)
{
    const std::string &user = args[0], &finger = args[1], &newName = args[2];
    std::string problem = fingerNameProblem(newName);
    if (!problem.empty())
        return refuse(problem);
    std::vector<std::string> fingers;
    int status;
    if (!fingersOf(conn, user, fingers, status))
        return status;
    if (!contains(fingers, finger))
        return refuse(user + " has no finger named " + finger);
    if (contains(fingers, newName))
        return refuse(user + " already has a finger named " + newName);
    vlclient::Error err;
    if (!conn.renameFinger(user, finger, newName, err))
        return reportError(err);
    std::printf("renamed %s of %s to %s\n", finger.c_str(), user.c_str(), newName.c_str());
    return 0;
}

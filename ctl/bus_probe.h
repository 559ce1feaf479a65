// Looks at the system bus without starting anything: a call to the daemon's
// name would start it through bus activation, only to be asked a question.
#pragma once

#include <string>

struct NameProbe {
    bool busReachable = false;
    std::string busError; // why the bus could not be reached
    bool owned = false;   // the name has an owner
    unsigned pid = 0;     // the owner's process, 0 when unknown
};

// The owner of `name` on the system bus (DBUS_SYSTEM_BUS_ADDRESS, else the
// standard socket).
NameProbe probeName(const char *name, int timeoutMs);

// The daemon's State property (0 no sensor, 1 sensor present, 2 claimed), or
// -1 with why set when the daemon does not answer. Without autoStart a
// daemon that is not running is not started to answer.
int daemonState(int timeoutMs, std::string &why, bool autoStart = false);

// The executable of a process ("/usr/libexec/vorl2547/vorl2547d"), or "".
std::string processExe(unsigned pid);

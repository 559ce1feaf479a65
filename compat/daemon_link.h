// Calls to the vorl2547 daemon (com.vorlen.fprint), made asynchronously on
// the front end's own connection: the daemon's runs belong to that
// connection, and their status signals come back on it.
#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compat/bus.h"

namespace fpcompat {

class DaemonLink {
public:
    explicit DaemonLink(DBusConnection *conn) : conn_(conn) {}

    // A member of the daemon's interface with string arguments.
    void call(const char *member, const std::vector<std::string> &args, ReplyFn done);
    void claim(const std::string &id, bool claimed, ReplyFn done);
    // Every finger the daemon stores for user, whatever its name.
    void listFingers(const std::string &user, std::function<void(bool ok, const std::vector<std::string> &)> done);
    // The State property: 0 no sensor (or no daemon), 1 present, 2 claimed.
    void state(std::function<void(int32_t)> done);

    // The daemon's unique name, learnt from its replies and from the bus.
    const std::string &owner() const { return owner_; }
    void setOwner(const std::string &owner) { owner_ = owner; }

private:
    void send(Message m, ReplyFn done);

    DBusConnection *conn_;
    std::string owner_;
};

} // namespace fpcompat

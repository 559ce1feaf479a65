// Calls to the vorl2547 daemon (com.vorlen.fprint), made asynchronously on
// the front end's own connection: the daemon's runs belong to that
// connection, and their status signals come back on it.
#pragma once

#include <dbus/dbus.h>

#include <chrono>
#include <cstdint>
#include <deque>
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
    // Whether the daemon sees the sensor, from its State property. One
    // answer serves every caller for a moment, so that asking costs the
    // daemon nothing more under a flood; a State that cannot be read for
    // load (no reply, no room) leaves the last one known, at first present.
    void sensorPresent(std::function<void(bool)> done);

    // The daemon's unique name, learnt from its replies and from the bus.
    const std::string &owner() const { return owner_; }
    void setOwner(const std::string &owner) { owner_ = owner; }

private:
    // At most MAX_IN_FLIGHT calls wait for the daemon; later ones wait their
    // turn here instead of taking the bus's last reply slots.
    void send(Message m, ReplyFn done);
    void sendNow(Message m, ReplyFn done);
    void state(std::function<void(bool ok, int32_t)> done);

    struct Queued {
        Message m;
        ReplyFn done;
    };

    DBusConnection *conn_;
    std::string owner_;
    std::size_t inFlight_ = 0;
    std::deque<Queued> queue_;
    bool present_ = true;
    std::chrono::steady_clock::time_point presentAt_{};
    bool presentKnown_ = false;
    std::vector<std::function<void(bool)>> presentWaiters_;
};

} // namespace fpcompat

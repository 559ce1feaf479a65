// Calls received and not answered yet, per sender and in all. Each one may
// hold a polkit check or a daemon call on the front end's single bus
// connection, whose pending replies the bus bounds; a flood from one client
// is refused before it can use them up.
#pragma once

#include <dbus/dbus.h>

#include <cstddef>
#include <map>
#include <set>
#include <string>

namespace fpcompat {

class CallLimits {
public:
    // No fprintd client waits for more than a few answers at once.
    static constexpr std::size_t PER_SENDER = 16;
    static constexpr std::size_t TOTAL = 1024;

    // Records a method call; false (and nothing recorded) when its sender,
    // or everybody, has too many waiting.
    bool admit(DBusMessage *call);
    // A reply or error that went out.
    void answered(DBusMessage *reply);
    // A client left the bus: its calls are answered by nobody.
    void senderLeft(const std::string &name);

private:
    std::map<std::string, std::set<dbus_uint32_t>> waiting_;
    std::size_t total_ = 0;
};

} // namespace fpcompat

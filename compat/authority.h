// Who calls, and whether polkit lets them: fprintd's authorization, through
// polkit's D-Bus API, with root allowed without asking.
#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fpcompat {

struct Caller {
    std::string busName; // unique name of the calling connection
    uint32_t uid = 0;
    std::string userName; // empty when the uid has no passwd entry
};

class Authority {
public:
    explicit Authority(DBusConnection *conn) : conn_(conn) {}

    // The calling connection's uid and user name; ok false when the bus
    // does not know the connection any more.
    void identify(const std::string &busName, std::function<void(bool ok, const Caller &)> done);

    // Allowed when polkit grants any one of actions, tried in order (so a
    // grant without interaction is found before one that asks). Root is
    // allowed. A polkit that cannot be asked allows nothing, and neither
    // does one asked too often at once: a user's checks waiting for polkit
    // (each perhaps an open password dialog) are bounded, and so are all.
    static constexpr int MAX_CHECKS_PER_USER = 8;
    static constexpr int MAX_CHECKS = 64;
    void check(const Caller &caller, std::vector<std::string> actions, std::function<void(bool)> done);

private:
    void checkOne(const Caller &caller, std::vector<std::string> actions, std::size_t i,
                  std::function<void(bool)> done);

    DBusConnection *conn_;
    std::map<uint32_t, int> checking_; // checks waiting, by uid
    int checkingAll_ = 0;
};

} // namespace fpcompat

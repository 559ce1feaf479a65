#include "compat/authority.h"

#include <pwd.h>

#include <memory>

#include "compat/bus.h"

namespace fpcompat {

namespace {

constexpr char POLKIT_NAME[] = "org.freedesktop.PolicyKit1";
constexpr char POLKIT_PATH[] = "/org/freedesktop/PolicyKit1/Authority";
constexpr char POLKIT_IFACE[] = "org.freedesktop.PolicyKit1.Authority";
constexpr dbus_uint32_t ALLOW_USER_INTERACTION = 1;
// An authentication dialog waits for a person.
constexpr int POLKIT_TIMEOUT_MS = 5 * 60 * 1000;
constexpr int BUS_TIMEOUT_MS = 10000;

std::string userNameOf(uint32_t uid)
{
    std::vector<char> buf(16384);
    passwd pw{}, *found = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr)
        return {};
    return found->pw_name;
}

// CheckAuthorization((sa{sv}) subject, s action, a{ss} details, u flags, s cancellation).
Message polkitCall(const std::string &busName, const std::string &action)
{
    Message m(dbus_message_new_method_call(POLKIT_NAME, POLKIT_PATH, POLKIT_IFACE, "CheckAuthorization"));
    if (!m)
        return m;
    DBusMessageIter it, subject, dict, entry, details;
    const char *kind = "system-bus-name", *key = "name", *name = busName.c_str(), *act = action.c_str(), *cancel = "";
    dbus_uint32_t flags = ALLOW_USER_INTERACTION;
    dbus_message_iter_init_append(m.get(), &it);
    bool ok = dbus_message_iter_open_container(&it, DBUS_TYPE_STRUCT, nullptr, &subject) &&
              dbus_message_iter_append_basic(&subject, DBUS_TYPE_STRING, &kind) &&
              dbus_message_iter_open_container(&subject, DBUS_TYPE_ARRAY, "{sv}", &dict) &&
              dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
              dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
              appendVariant(&entry, DBUS_TYPE_STRING, &name) && dbus_message_iter_close_container(&dict, &entry) &&
              dbus_message_iter_close_container(&subject, &dict) && dbus_message_iter_close_container(&it, &subject) &&
              dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &act) &&
              dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{ss}", &details) &&
              dbus_message_iter_close_container(&it, &details) &&
              dbus_message_iter_append_basic(&it, DBUS_TYPE_UINT32, &flags) &&
              dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &cancel);
    if (!ok)
        m.reset();
    return m;
}

// The first field of the (bba{ss}) result: is_authorized.
bool isAuthorized(DBusMessage *reply)
{
    DBusMessageIter it, result;
    if (!dbus_message_iter_init(reply, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_STRUCT)
        return false;
    dbus_message_iter_recurse(&it, &result);
    if (dbus_message_iter_get_arg_type(&result) != DBUS_TYPE_BOOLEAN)
        return false;
    dbus_bool_t authorized = FALSE;
    dbus_message_iter_get_basic(&result, &authorized);
    return authorized;
}

} // namespace

void Authority::identify(const std::string &busName, std::function<void(bool, const Caller &)> done)
{
    Message m(
        dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixUser"));
    const char *name = busName.c_str();
    if (m && !dbus_message_append_args(m.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
        m.reset();
    callAsync(conn_, std::move(m), BUS_TIMEOUT_MS, [busName, done](Reply &r) {
        Caller c;
        c.busName = busName;
        dbus_uint32_t uid = 0;
        bool ok = r.ok() && dbus_message_get_args(r.msg.get(), nullptr, DBUS_TYPE_UINT32, &uid, DBUS_TYPE_INVALID);
        if (ok) {
            c.uid = uid;
            c.userName = userNameOf(uid);
        }
        done(ok, c);
    });
}

void Authority::check(const Caller &caller, std::vector<std::string> actions, std::function<void(bool)> done)
{
    if (caller.uid == 0) {
        done(true);
        return;
    }
    int &mine = checking_[caller.uid];
    if (mine >= MAX_CHECKS_PER_USER || checkingAll_ >= MAX_CHECKS) {
        if (mine == 0)
            checking_.erase(caller.uid);
        done(false);
        return;
    }
    ++mine;
    ++checkingAll_;
    uint32_t uid = caller.uid;
    checkOne(caller, std::move(actions), 0, [this, uid, done](bool allowed) {
        --checkingAll_;
        if (--checking_[uid] == 0)
            checking_.erase(uid);
        done(allowed);
    });
}

void Authority::checkOne(const Caller &caller, std::vector<std::string> actions, std::size_t i,
                         std::function<void(bool)> done)
{
    if (i >= actions.size()) {
        done(false);
        return;
    }
    Message m = polkitCall(caller.busName, actions[i]);
    callAsync(conn_, std::move(m), POLKIT_TIMEOUT_MS, [this, caller, actions, i, done](Reply &r) {
        if (r.ok() && isAuthorized(r.msg.get()))
            done(true);
        else
            checkOne(caller, actions, i + 1, done);
    });
}

} // namespace fpcompat

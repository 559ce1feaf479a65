#include "compat/daemon_link.h"

#include "compat/fprint_api.h"

namespace fpcompat {

namespace {

// The daemon answers within about a second, more under load.
constexpr int DAEMON_TIMEOUT_MS = 15000;
// With polkit's MAX_CHECKS, below the bus's 128 pending replies of a
// connection.
constexpr std::size_t MAX_IN_FLIGHT = 48;
constexpr auto PRESENCE_FRESH = std::chrono::seconds(1);

Message newCall(const char *iface, const char *member)
{
    return Message(dbus_message_new_method_call(DAEMON_NAME, DAEMON_PATH, iface, member));
}

} // namespace

void DaemonLink::send(Message m, ReplyFn done)
{
    if (inFlight_ >= MAX_IN_FLIGHT) {
        queue_.push_back(Queued{std::move(m), std::move(done)});
        return;
    }
    sendNow(std::move(m), std::move(done));
}

void DaemonLink::sendNow(Message m, ReplyFn done)
{
    ++inFlight_;
    callAsync(conn_, std::move(m), DAEMON_TIMEOUT_MS, [this, done](Reply &r) {
        --inFlight_;
        const char *sender = r.msg ? dbus_message_get_sender(r.msg.get()) : nullptr;
        if (sender != nullptr && sender[0] == ':')
            owner_ = sender;
        done(r);
        if (!queue_.empty() && inFlight_ < MAX_IN_FLIGHT) {
            Queued next = std::move(queue_.front());
            queue_.pop_front();
            sendNow(std::move(next.m), std::move(next.done));
        }
    });
}

void DaemonLink::call(const char *member, const std::vector<std::string> &args, ReplyFn done)
{
    Message m = newCall(DAEMON_IFACE, member);
    for (const std::string &a : args) {
        const char *s = a.c_str();
        if (m && !dbus_message_append_args(m.get(), DBUS_TYPE_STRING, &s, DBUS_TYPE_INVALID))
            m.reset();
    }
    send(std::move(m), std::move(done));
}

void DaemonLink::claim(const std::string &id, bool claimed, ReplyFn done)
{
    Message m = newCall(DAEMON_IFACE, "Claim");
    const char *s = id.c_str();
    dbus_bool_t b = claimed;
    if (m && !dbus_message_append_args(m.get(), DBUS_TYPE_STRING, &s, DBUS_TYPE_BOOLEAN, &b, DBUS_TYPE_INVALID))
        m.reset();
    send(std::move(m), std::move(done));
}

void DaemonLink::listFingers(const std::string &user, std::function<void(bool, const std::vector<std::string> &)> done)
{
    call("ListFingers", {user}, [done](Reply &r) {
        std::vector<std::string> names;
        DBusMessageIter it, array;
        // A user without fingers is answered with an empty array of another
        // element type: only string elements are names.
        if (r.ok() && dbus_message_iter_init(r.msg.get(), &it) &&
            dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_ARRAY) {
            dbus_message_iter_recurse(&it, &array);
            while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRING) {
                const char *name;
                dbus_message_iter_get_basic(&array, &name);
                names.emplace_back(name);
                dbus_message_iter_next(&array);
            }
        }
        done(r.ok(), names);
    });
}

void DaemonLink::sensorPresent(std::function<void(bool)> done)
{
    if (presentKnown_ && std::chrono::steady_clock::now() - presentAt_ < PRESENCE_FRESH)
        return done(present_);
    presentWaiters_.push_back(std::move(done));
    if (presentWaiters_.size() > 1)
        return; // the State on its way answers this one too
    state([this](bool ok, int32_t v) {
        if (ok) {
            present_ = v != 0;
            presentKnown_ = true;
            presentAt_ = std::chrono::steady_clock::now();
        }
        std::vector<std::function<void(bool)>> waiters;
        waiters.swap(presentWaiters_);
        for (auto &w : waiters)
            w(present_);
    });
}

void DaemonLink::state(std::function<void(bool, int32_t)> done)
{
    Message m = newCall(PROPERTIES_IFACE, "Get");
    const char *iface = DAEMON_IFACE, *prop = "State";
    if (m && !dbus_message_append_args(m.get(), DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &prop, DBUS_TYPE_INVALID))
        m.reset();
    send(std::move(m), [done](Reply &r) {
        dbus_int32_t v = 0;
        DBusMessageIter it;
        if (r.ok() && dbus_message_iter_init(r.msg.get(), &it)) {
            // The daemon sends the plain value; a variant is read too.
            if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_VARIANT) {
                DBusMessageIter inner;
                dbus_message_iter_recurse(&it, &inner);
                it = inner;
            }
            if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_INT32)
                dbus_message_iter_get_basic(&it, &v);
        }
        // A daemon that is not there, or cannot start, has no sensor; a full
        // queue or a slow answer says nothing about it.
        bool load = r.error == DBUS_ERROR_LIMITS_EXCEEDED || r.error == DBUS_ERROR_NO_REPLY ||
                    r.error == DBUS_ERROR_TIMEOUT || r.error == DBUS_ERROR_TIMED_OUT || r.error == DBUS_ERROR_NO_MEMORY;
        done(!load, v);
    });
}

} // namespace fpcompat

#include "client/client.h"

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace vlclient {

namespace {

constexpr char PROPERTIES[] = "org.freedesktop.DBus.Properties";
using Clock = std::chrono::steady_clock;

DBusMessage *newCall(const char *interface, const char *member)
{
    return dbus_message_new_method_call(SERVICE, OBJECT_PATH, interface, member);
}

void setError(Error &err, const char *name, const char *message)
{
    err.name = name ? name : "";
    err.message = message ? message : "";
}

} // namespace

Connection::Connection(int timeoutMs) : timeoutMs_(timeoutMs) {}

Connection::~Connection()
{
    if (conn_) {
        dbus_connection_close(conn_);
        dbus_connection_unref(conn_);
    }
}

bool Connection::open(Error &err)
{
    DBusError e;
    dbus_error_init(&e);
    // A private connection: the PAM module lives inside other programs and
    // must not share or close their bus connection.
    conn_ = dbus_bus_get_private(DBUS_BUS_SYSTEM, &e);
    if (!conn_) {
        setError(err, e.name, e.message);
        dbus_error_free(&e);
        return false;
    }
    dbus_connection_set_exit_on_disconnect(conn_, FALSE);
    // The daemon's status signals, and the bus's word when the daemon leaves.
    char rules[2][256];
    std::snprintf(rules[0], sizeof rules[0], "type='signal',sender='%s',interface='%s',path='%s'", SERVICE,
                  INTERFACE, OBJECT_PATH);
    std::snprintf(rules[1], sizeof rules[1],
                  "type='signal',sender='%s',interface='%s',member='NameOwnerChanged',arg0='%s'", DBUS_SERVICE_DBUS,
                  DBUS_INTERFACE_DBUS, SERVICE);
    for (const char *rule : rules) {
        dbus_bus_add_match(conn_, rule, &e);
        if (dbus_error_is_set(&e)) {
            setError(err, e.name, e.message);
            dbus_error_free(&e);
            return false;
        }
    }
    return true;
}

bool Connection::send(DBusMessage *msg, Error &err, DBusMessage **replyOut)
{
    if (!msg) {
        setError(err, DBUS_ERROR_NO_MEMORY, "out of memory");
        return false;
    }
    DBusError e;
    dbus_error_init(&e);
    DBusMessage *reply = dbus_connection_send_with_reply_and_block(conn_, msg, timeoutMs_, &e);
    dbus_message_unref(msg);
    if (!reply) {
        setError(err, e.name, e.message);
        dbus_error_free(&e);
        return false;
    }
    // Only the bus and the name's owner can answer a call of ours; an answer
    // from a unique name is the daemon's.
    const char *sender = dbus_message_get_sender(reply);
    if (sender != nullptr && sender[0] == ':')
        daemon_ = sender;
    if (replyOut)
        *replyOut = reply;
    else
        dbus_message_unref(reply);
    return true;
}

bool Connection::callStrings(const char *member, std::initializer_list<std::string> args, Error &err,
                             DBusMessage **replyOut)
{
    for (const std::string &arg : args) {
        if (!dbus_validate_utf8(arg.c_str(), nullptr)) {
            setError(err, ERROR_NOT_UTF8, "a name is not valid UTF-8 text");
            return false;
        }
    }
    DBusMessage *msg = newCall(INTERFACE, member);
    for (const std::string &arg : args) {
        const char *s = arg.c_str();
        if (msg && !dbus_message_append_args(msg, DBUS_TYPE_STRING, &s, DBUS_TYPE_INVALID)) {
            dbus_message_unref(msg);
            msg = nullptr;
        }
    }
    return send(msg, err, replyOut);
}

bool Connection::claim(bool claimed, Error &err)
{
    DBusMessage *msg = newCall(INTERFACE, "Claim");
    const char *id = "";
    dbus_bool_t flag = claimed;
    if (msg && !dbus_message_append_args(msg, DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &flag, DBUS_TYPE_INVALID)) {
        dbus_message_unref(msg);
        msg = nullptr;
    }
    if (send(msg, err))
        return true;
    // The daemon says the same when the sensor is missing and when another
    // client holds it; the state tells the two apart.
    Error stateErr;
    std::string state;
    if (claimed && err.refusedByDaemon() && getProperty("State", state, stateErr) && state == "2")
        setError(err, ERROR_BUSY, "the sensor is busy");
    return false;
}

bool Connection::startRun(const char *member, std::initializer_list<std::string> args, Error &err)
{
    runAccepted_ = false;
    // Whatever is queued now came before this run: the end of an earlier
    // one, or nothing of ours at all.
    dbus_connection_read_write(conn_, 0);
    Status ignored;
    while (DBusMessage *msg = dbus_connection_pop_message(conn_)) {
        if (take(msg, ignored) < 0)
            lost_ = true;
        dbus_message_unref(msg);
    }
    // A refusal signal of the daemon comes before its answer; it stays
    // queued behind the call and is ours.
    runAccepted_ = callStrings(member, args, err);
    return runAccepted_;
}

bool Connection::enroll(const std::string &id, const std::string &finger, Error &err)
{
    return startRun("Enroll", {id, finger}, err);
}

bool Connection::stopEnroll(Error &err) { return callStrings("StopEnroll", {}, err); }

bool Connection::verify(const std::string &finger, Error &err) { return startRun("Verify", {finger}, err); }

bool Connection::stopVerify(Error &err) { return callStrings("StopVerify", {}, err); }

bool Connection::deleteFinger(const std::string &id, const std::string &finger, Error &err)
{
    return callStrings("DeleteFinger", {id, finger}, err);
}

bool Connection::deleteAllFingers(const std::string &id, Error &err)
{
    return callStrings("DeleteAllFingers", {id}, err);
}

bool Connection::renameFinger(const std::string &id, const std::string &finger, const std::string &newname,
                              Error &err)
{
    return callStrings("RenameFinger", {id, finger, newname}, err);
}

bool Connection::listFingers(const std::string &id, std::vector<std::string> &fingers, Error &err)
{
    DBusMessage *reply = nullptr;
    if (!callStrings("ListFingers", {id}, err, &reply))
        return false;
    fingers.clear();
    DBusMessageIter it, array;
    // A user without fingers gets an empty array of another element type;
    // only string elements are names.
    if (dbus_message_iter_init(reply, &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_ARRAY) {
        dbus_message_iter_recurse(&it, &array);
        while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRING) {
            const char *name;
            dbus_message_iter_get_basic(&array, &name);
            fingers.emplace_back(name);
            dbus_message_iter_next(&array);
        }
    }
    dbus_message_unref(reply);
    return true;
}

bool Connection::getProperty(const std::string &name, std::string &value, Error &err)
{
    DBusMessage *msg = newCall(PROPERTIES, "Get");
    const char *iface = INTERFACE;
    const char *prop = name.c_str();
    if (msg && !dbus_message_append_args(msg, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &prop, DBUS_TYPE_INVALID)) {
        dbus_message_unref(msg);
        msg = nullptr;
    }
    DBusMessage *reply = nullptr;
    if (!send(msg, err, &reply))
        return false;
    value.clear();
    DBusMessageIter it;
    if (dbus_message_iter_init(reply, &it)) {
        int type = dbus_message_iter_get_arg_type(&it);
        if (type == DBUS_TYPE_STRING) {
            const char *s;
            dbus_message_iter_get_basic(&it, &s);
            value = s;
        } else if (type == DBUS_TYPE_INT32) {
            dbus_int32_t v;
            dbus_message_iter_get_basic(&it, &v);
            value = std::to_string(v);
        }
    }
    dbus_message_unref(reply);
    return true;
}

bool Connection::stopAndRelease(bool enrollRun, int lastSignalMs, Status *last, Error &err)
{
    // The stop goes out without waiting for its answer: the daemon handles
    // one connection's calls in order, so the answer to the release comes
    // after both, one poll cycle sooner.
    DBusMessage *stop = newCall(INTERFACE, enrollRun ? "StopEnroll" : "StopVerify");
    if (stop) {
        dbus_connection_send(conn_, stop, nullptr);
        dbus_message_unref(stop);
    }
    bool released = claim(false, err);
    Status s;
    const auto deadline = Clock::now() + std::chrono::milliseconds(lastSignalMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (waitStatus(s, left > 0 ? static_cast<int>(left) : 0, nullptr) != Wait::Signal)
            break;
        if (s.enroll == enrollRun && !s.isStep()) {
            if (last)
                *last = s;
            break;
        }
    }
    return released;
}

int Connection::take(DBusMessage *msg, Status &out)
{
    if (dbus_message_is_signal(msg, DBUS_INTERFACE_LOCAL, "Disconnected"))
        return -1;
    const char *sender = dbus_message_get_sender(msg);
    if (sender == nullptr)
        return 0;
    if (dbus_message_is_signal(msg, DBUS_INTERFACE_DBUS, "NameOwnerChanged") &&
        std::strcmp(sender, DBUS_SERVICE_DBUS) == 0) {
        const char *name, *oldOwner, *newOwner;
        if (dbus_message_get_args(msg, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner,
                                  DBUS_TYPE_STRING, &newOwner, DBUS_TYPE_INVALID) &&
            std::strcmp(name, SERVICE) == 0 && !daemon_.empty() && daemon_ == oldOwner)
            return -1;
        return 0;
    }
    // A signal addressed to us directly bypasses the match rules, and any
    // peer may send one: only the daemon we talk to is believed, and only
    // about our own run.
    if (daemon_.empty() || daemon_ != sender || !runAccepted_)
        return 0;
    bool enroll = dbus_message_is_signal(msg, INTERFACE, "EnrollStatus");
    bool verify = dbus_message_is_signal(msg, INTERFACE, "VerifyStatus");
    const char *id = nullptr;
    const char *text = nullptr;
    dbus_int32_t status = 0;
    if (!(enroll || verify) ||
        !dbus_message_get_args(msg, nullptr, DBUS_TYPE_STRING, &id, DBUS_TYPE_INT32, &status, DBUS_TYPE_STRING,
                               &text, DBUS_TYPE_INVALID))
        return 0;
    out = Status{};
    out.enroll = enroll;
    out.id = id;
    out.status = status;
    out.text = text;
    decodeText(out);
    return 1;
}

Wait Connection::waitStatus(Status &out, int timeoutMs, const std::atomic<bool> *interrupted)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (lost_)
        return Wait::Lost;
    for (;;) {
        if (interrupted && interrupted->load())
            return Wait::Interrupted;
        while (DBusMessage *msg = dbus_connection_pop_message(conn_)) {
            int got = take(msg, out);
            dbus_message_unref(msg);
            if (got != 0)
                return got > 0 ? Wait::Signal : Wait::Lost;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Wait::Timeout;
        // Short slices, so that an interruption is noticed promptly.
        if (!dbus_connection_read_write(conn_, static_cast<int>(left < 100 ? left : 100)))
            return Wait::Lost;
    }
}

} // namespace vlclient

#include "client/client.h"

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vlclient {

namespace {

constexpr char PROPERTIES[] = "org.freedesktop.DBus.Properties";
using Clock = std::chrono::steady_clock;

MessagePtr newCall(const char *interface, const char *member)
{
    return MessagePtr(dbus_message_new_method_call(SERVICE, OBJECT_PATH, interface, member));
}

void setError(Error &err, const char *name, const char *message)
{
    err.name = name ? name : "";
    err.message = message ? message : "";
}

} // namespace

Connection::Connection(int timeoutMs) : timeoutMs_(timeoutMs) {}

Connection::~Connection() = default;

bool Connection::open(Error &err)
{
    DBusError e;
    dbus_error_init(&e);
    // A private connection: the PAM module lives inside other programs and
    // must not share or close their bus connection.
    conn_.reset(dbus_bus_get_private(DBUS_BUS_SYSTEM, &e));
    if (!conn_) {
        setError(err, e.name, e.message);
        dbus_error_free(&e);
        return false;
    }
    dbus_connection_set_exit_on_disconnect(conn_.get(), FALSE);
    // The daemon's status signals, and the bus's word when the daemon leaves.
    char rules[2][256];
    std::snprintf(rules[0], sizeof rules[0], "type='signal',sender='%s',interface='%s',path='%s'", SERVICE, INTERFACE,
                  OBJECT_PATH);
    std::snprintf(rules[1], sizeof rules[1],
                  "type='signal',sender='%s',interface='%s',member='NameOwnerChanged',arg0='%s'", DBUS_SERVICE_DBUS,
                  DBUS_INTERFACE_DBUS, SERVICE);
    for (const char *rule : rules) {
        dbus_bus_add_match(conn_.get(), rule, &e);
        if (dbus_error_is_set(&e)) {
            setError(err, e.name, e.message);
            dbus_error_free(&e);
            return false;
        }
    }
    return true;
}

bool Connection::send(MessagePtr msg, Error &err, MessagePtr *replyOut)
{
    if (!msg) {
        setError(err, DBUS_ERROR_NO_MEMORY, "out of memory");
        return false;
    }
    dbus_message_set_auto_start(msg.get(), autoStart_ ? TRUE : FALSE);
    DBusError e;
    dbus_error_init(&e);
    MessagePtr reply(dbus_connection_send_with_reply_and_block(conn_.get(), msg.get(), timeoutMs_, &e));
    msg.reset();
    if (!reply) {
        setError(err, e.name, e.message);
        dbus_error_free(&e);
        return false;
    }
    // Only the bus and the name's owner can answer a call of ours; an answer
    // from a unique name is the daemon's.
    const char *sender = dbus_message_get_sender(reply.get());
    if (sender != nullptr && sender[0] == ':')
        daemon_ = sender;
    if (replyOut)
        *replyOut = std::move(reply);
    return true;
}

bool Connection::callStrings(const char *member, std::initializer_list<std::string> args, Error &err,
                             MessagePtr *replyOut)
{
    for (const std::string &arg : args) {
        if (!dbus_validate_utf8(arg.c_str(), nullptr)) {
            setError(err, ERROR_NOT_UTF8, "a name is not valid UTF-8 text");
            return false;
        }
    }
    MessagePtr msg = newCall(INTERFACE, member);
    for (const std::string &arg : args) {
        const char *s = arg.c_str();
        if (msg && !dbus_message_append_args(msg.get(), DBUS_TYPE_STRING, &s, DBUS_TYPE_INVALID))
            msg.reset();
    }
    return send(std::move(msg), err, replyOut);
}

bool Connection::claim(bool claimed, Error &err)
{
    MessagePtr msg = newCall(INTERFACE, "Claim");
    const char *id = "";
    dbus_bool_t flag = claimed;
    if (msg && !dbus_message_append_args(msg.get(), DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &flag, DBUS_TYPE_INVALID))
        msg.reset();
    if (send(std::move(msg), err))
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
    dbus_connection_read_write(conn_.get(), 0);
    Status ignored;
    while (MessagePtr msg{dbus_connection_pop_message(conn_.get())}) {
        if (take(msg.get(), ignored) < 0)
            lost_ = true;
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

bool Connection::verifyUser(const std::string &id, const std::string &finger, Error &err)
{
    return startRun("VerifyUser", {id, finger}, err);
}

bool Connection::stopVerify(Error &err) { return callStrings("StopVerify", {}, err); }

bool Connection::deleteFinger(const std::string &id, const std::string &finger, Error &err)
{
    return callStrings("DeleteFinger", {id, finger}, err);
}

bool Connection::deleteAllFingers(const std::string &id, Error &err)
{
    return callStrings("DeleteAllFingers", {id}, err);
}

bool Connection::renameFinger(const std::string &id, const std::string &finger, const std::string &newname, Error &err)
{
    return callStrings("RenameFinger", {id, finger, newname}, err);
}

bool Connection::listFingers(const std::string &id, std::vector<std::string> &fingers, Error &err)
{
    MessagePtr reply;
    if (!callStrings("ListFingers", {id}, err, &reply))
        return false;
    fingers.clear();
    DBusMessageIter it, array;
    // A user without fingers gets an empty array of another element type;
    // only string elements are names.
    if (dbus_message_iter_init(reply.get(), &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_ARRAY) {
        dbus_message_iter_recurse(&it, &array);
        while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRING) {
            const char *name;
            dbus_message_iter_get_basic(&array, &name);
            fingers.emplace_back(name);
            dbus_message_iter_next(&array);
        }
    }
    return true;
}

bool Connection::getProperty(const std::string &name, std::string &value, Error &err)
{
    MessagePtr msg = newCall(PROPERTIES, "Get");
    const char *iface = INTERFACE;
    const char *prop = name.c_str();
    if (msg &&
        !dbus_message_append_args(msg.get(), DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &prop, DBUS_TYPE_INVALID))
        msg.reset();
    MessagePtr reply;
    if (!send(std::move(msg), err, &reply))
        return false;
    value.clear();
    DBusMessageIter it, var;
    if (dbus_message_iter_init(reply.get(), &it)) {
        if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_VARIANT) {
            dbus_message_iter_recurse(&it, &var);
            it = var;
        }
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
    return true;
}

bool Connection::stopAndRelease(bool enrollRun, int lastSignalMs, Status *last, Error &err)
{
    // The stop goes out without waiting for its answer: the daemon handles
    // one connection's calls in order, so the answer to the release comes
    // after both, one poll cycle sooner.
    if (MessagePtr stop = newCall(INTERFACE, enrollRun ? "StopEnroll" : "StopVerify"))
        dbus_connection_send(conn_.get(), stop.get(), nullptr);
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
        if (dbus_message_get_args(msg, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner, DBUS_TYPE_STRING,
                                  &newOwner, DBUS_TYPE_INVALID) &&
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
    if (!(enroll || verify) || !dbus_message_get_args(msg, nullptr, DBUS_TYPE_STRING, &id, DBUS_TYPE_INT32, &status,
                                                      DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID))
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
        while (MessagePtr msg{dbus_connection_pop_message(conn_.get())}) {
            int got = take(msg.get(), out);
            if (got != 0)
                return got > 0 ? Wait::Signal : Wait::Lost;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Wait::Timeout;
        // Short slices, so that an interruption is noticed promptly.
        if (!dbus_connection_read_write(conn_.get(), static_cast<int>(left < 100 ? left : 100)))
            return Wait::Lost;
    }
}

} // namespace vlclient

// Name owners, through plain libdbus calls to the bus, and the daemon's
// State, through the client library.
#include "ctl/bus_probe.h"

#include <dbus/dbus.h>
#include <unistd.h>

#include <charconv>
#include <climits>

#include "client/client.h"
#include "common/dbus_ptr.h"

namespace {

PrivateConnectionPtr openBus(std::string &why)
{
    DBusError err;
    dbus_error_init(&err);
    DBusConnection *conn = dbus_bus_get_private(DBUS_BUS_SYSTEM, &err);
    if (!conn) {
        why = err.message ? err.message : "cannot connect to the system bus";
        dbus_error_free(&err);
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(conn, FALSE);
    return PrivateConnectionPtr(conn);
}

// Sends call and returns the reply, or null with why set.
MessagePtr callFor(DBusConnection *conn, DBusMessage *call, int timeoutMs, std::string &why)
{
    MessagePtr owned(call);
    if (!call) {
        why = "out of memory";
        return nullptr;
    }
    DBusError err;
    dbus_error_init(&err);
    DBusMessage *reply = dbus_connection_send_with_reply_and_block(conn, call, timeoutMs, &err);
    if (!reply) {
        why = err.message ? err.message : "no reply";
        dbus_error_free(&err);
    }
    return MessagePtr(reply);
}

} // namespace

NameProbe probeName(const char *name, int timeoutMs)
{
    NameProbe p;
    PrivateConnectionPtr conn = openBus(p.busError);
    if (!conn)
        return p;
    p.busReachable = true;
    std::string why;
    DBusMessage *call = dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS,
                                                     "GetConnectionUnixProcessID");
    if (call)
        dbus_message_append_args(call, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    // The bus answers for a name without an owner with an error: no owner.
    MessagePtr reply = callFor(conn.get(), call, timeoutMs, why);
    dbus_uint32_t pid = 0;
    if (reply && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
        dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_UINT32, &pid, DBUS_TYPE_INVALID)) {
        p.owned = true;
        p.pid = pid;
    }
    return p;
}

int daemonState(int timeoutMs, std::string &why, bool autoStart)
{
    vlclient::Connection conn(timeoutMs);
    conn.setAutoStart(autoStart);
    vlclient::Error err;
    std::string value;
    if (!conn.open(err) || !conn.getProperty("State", value, err)) {
        why = err.message.empty() ? err.name : err.message;
        return -1;
    }
    int state = -1;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), state);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size()) {
        why = "the State property is not an int32";
        return -1;
    }
    return state;
}

std::string processExe(unsigned pid)
{
    if (pid == 0)
        return "";
    char buf[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return "";
    return std::string(buf, static_cast<size_t>(n));
}

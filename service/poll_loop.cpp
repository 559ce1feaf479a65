// The main loop: a fixed-cadence poll of the bus connection, one message per
// pass. A call to an idle daemon is answered within about 1.05 s.
#include "log/log.h"
#include "service/vorl2547_svr.h"

static constexpr unsigned PASS_SLEEP_US = 50000;
static constexpr unsigned IDLE_SLEEP_US = 1000000;

static const char *orNone(const char *field) { return field != nullptr ? field : "(none)"; }

void vlLogMessage(DBusMessage *msg)
{
    _vllog("msg %s %s %s %s\n", orNone(dbus_message_get_path(msg)),
           orNone(dbus_message_get_interface(msg)), orNone(dbus_message_get_destination(msg)),
           orNone(dbus_message_get_member(msg)));
}

bool vlPollOnce(DBusConnection *conn, DBusError *err)
{
    vlSleep(PASS_SLEEP_US);
    // False only once the connection is closed and its last message taken.
    if (!dbus_connection_read_write(conn, 0))
        return false;

    DBusMessage *msg = dbus_connection_pop_message(conn);
    if (msg == nullptr) {
        vlSleep(IDLE_SLEEP_US);
        return true;
    }
    vlLogMessage(msg);
    vlDispatch(conn, msg, err);
    dbus_message_unref(msg);
    return true;
}

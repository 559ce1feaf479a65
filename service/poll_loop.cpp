// The main loop: a fixed-cadence poll of the bus connection, one message per
// pass. A call to an idle daemon is answered within about 1.05 s.
#include <poll.h>

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

// One read of the bus library takes at most 2 KiB off the socket, so a large
// call would hold every other caller up for a pass per 2 KiB (a minute for
// 100 KB). Reading goes on while bytes wait and no whole message is queued;
// the cap (the bus's largest message in 2 KiB reads) ends the loop should the
// library stop taking bytes.
static constexpr int MAX_READS_PER_PASS = 16384;

static void readWaitingBytes(DBusConnection *conn)
{
    int fd = -1;
    if (!dbus_connection_get_unix_fd(conn, &fd))
        return;
    for (int i = 0; i < MAX_READS_PER_PASS; ++i) {
        if (dbus_connection_get_dispatch_status(conn) == DBUS_DISPATCH_DATA_REMAINS)
            return;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 0) != 1 || (p.revents & POLLIN) == 0)
            return;
        if (!dbus_connection_read_write(conn, 0))
            return;
    }
}

bool vlPollOnce(DBusConnection *conn, DBusError *err)
{
    vlSleep(PASS_SLEEP_US);
    // False only once the connection is closed and its last message taken.
    if (!dbus_connection_read_write(conn, 0))
        return false;
    readWaitingBytes(conn);

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

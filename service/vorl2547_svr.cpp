// vorl2547d: owns "com.vorlen.fprint" on the system bus and answers its calls
// until it is killed. Takes no arguments and reads no configuration.
#include <csignal>
#include <cstdlib>
#include <malloc.h>

#include "log/log.h"
#include "service/vorl2547_svr.h"

static constexpr const char *VERSION_LINE = "1.0.9";

// The log queue is a kernel object that would outlive the process; a kill
// from systemd or a terminal removes it before the default action runs.
static void removeLogQueueAndDie(int sig)
{
    vllogClose();
    signal(sig, SIG_DFL);
    raise(sig);
}

static void installExitHandlers()
{
    signal(SIGTERM, removeLogQueueAndDie);
    signal(SIGINT, removeLogQueueAndDie);
}

// Exits with status 1 after the writer has written the lines posted so far
// (vllogExec's exit hook waits for it).
[[noreturn]] static void startupFailed() { exit(1); }

static DBusConnection *connectSystemBus()
{
    DBusError err;
    dbus_error_init(&err);
    DBusConnection *conn = dbus_bus_get(DBUS_BUS_SYSTEM, &err);
    if (dbus_error_is_set(&err)) {
        _vllog("Connection Error(%s) ", err.message);
        dbus_error_free(&err);
        startupFailed();
    }
    if (conn == nullptr)
        startupFailed();
    // The loop notices a lost bus itself and ends with status 1 so that the
    // service manager restarts the daemon.
    dbus_connection_set_exit_on_disconnect(conn, FALSE);
    return conn;
}

// Asks for the name with replace-existing only. An owner that does not allow
// replacement keeps it; we are then queued and give up without a word.
static void ownBusName(DBusConnection *conn)
{
    DBusError err;
    dbus_error_init(&err);
    int reply = dbus_bus_request_name(conn, VL_BUS_NAME, DBUS_NAME_FLAG_REPLACE_EXISTING, &err);
    if (dbus_error_is_set(&err)) {
        _vllog("Requece name error(%s) ", err.message);
        dbus_error_free(&err);
        startupFailed();
    }
    if (reply != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
        startupFailed();
}

int main()
{
    // One malloc arena for every thread. Each worker is a new thread, and
    // with the transfer layer's short-lived event threads taking arenas too,
    // it often landed in an arena of its own that kept the matching
    // library's freed workspace (some MiB) resident: RSS rose in such steps,
    // up to eight arenas per core. Only one worker runs at a time, so there
    // is no contention to spread.
    mallopt(M_ARENA_MAX, 1);
    vllogExec();
    installExitHandlers();
    // No pause for the writer: lines wait in the queue until it runs.
    vllogtm();
    vllogstr(VERSION_LINE);
    vllogstr("use normal");

    // Workers send signals on the connection the main loop polls.
    dbus_threads_init_default();
    m_conn = connectSystemBus();
    ownBusName(m_conn);

    DBusError err;
    dbus_error_init(&err);
    while (vlPollOnce(m_conn, &err)) {
    }
    vllogstr("Connection lost");
    startupFailed();
}

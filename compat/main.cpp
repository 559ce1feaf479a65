// vorl2547-fprintd: fprintd's D-Bus API (net.reactivated.Fprint) for desktops,
// pam_fprintd and fprintd's tools, served by the vorl2547 daemon underneath.
// Runs as root on the system bus; takes no arguments.
#include <dbus/dbus.h>
#include <malloc.h>

#include <cstdio>

#include "compat/authority.h"
#include "compat/daemon_link.h"
#include "compat/device.h"
#include "compat/event_loop.h"
#include "compat/fprint_api.h"
#include "compat/objects.h"

using namespace fpcompat;

int main()
{
    // A call of many MiB (the bus allows 32) is refused as soon as it is
    // read; its buffers go back to the system with it, instead of staying in
    // the heap as the allocator's growing threshold would keep them.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
    DBusError e;
    dbus_error_init(&e);
    DBusConnection *conn = dbus_bus_get_private(DBUS_BUS_SYSTEM, &e);
    if (conn == nullptr) {
        std::fprintf(stderr, "vorl2547-fprintd: no system bus: %s\n", e.message);
        return 1;
    }
    // Leaving the bus ends the loop, not the process from inside libdbus.
    dbus_connection_set_exit_on_disconnect(conn, FALSE);
    // One large call read at a time: libdbus reads on only while what it
    // handed out is below this.
    dbus_connection_set_max_received_size(conn, 64 * 1024);

    EventLoop loop;
    Authority auth(conn);
    DaemonLink daemon(conn);
    Device device(conn, loop, auth, daemon);
    Objects objects(conn, device, daemon);
    if (!loop.attach(conn) || !objects.attach()) {
        std::fprintf(stderr, "vorl2547-fprintd: cannot set up the connection\n");
        return 1;
    }
    // Another owner (fprintd itself) is not displaced: one front end at a time.
    int ret = dbus_bus_request_name(conn, FPRINT_NAME, DBUS_NAME_FLAG_DO_NOT_QUEUE, &e);
    if (ret != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
        std::fprintf(stderr, "vorl2547-fprintd: cannot own %s: %s\n", FPRINT_NAME,
                     dbus_error_is_set(&e) ? e.message : "it has another owner");
        return 1;
    }
    std::printf("vorl2547-fprintd: serving %s\n", FPRINT_NAME);
    std::fflush(stdout);
    loop.run();
    dbus_connection_close(conn);
    dbus_connection_unref(conn);
    return 0;
}

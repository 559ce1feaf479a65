// The bus objects of net.reactivated.Fprint: the manager, the device, their
// properties and introspection. One filter takes every incoming message.
#pragma once

#include <dbus/dbus.h>

#include "compat/call_limits.h"
#include "compat/daemon_link.h"
#include "compat/device.h"

namespace fpcompat {

class Objects {
public:
    Objects(DBusConnection *conn, Device &device, DaemonLink &daemon) : conn_(conn), device_(device), daemon_(daemon) {}

    // Installs the filter and the match rules it needs.
    bool attach();

private:
    static DBusHandlerResult filter(DBusConnection *, DBusMessage *msg, void *self);
    DBusHandlerResult handle(DBusMessage *msg);
    void manager(DBusMessage *call);
    void properties(DBusMessage *call, const char *path);
    void introspect(DBusMessage *call, const char *path);

    DBusConnection *conn_;
    Device &device_;
    DaemonLink &daemon_;
    CallLimits limits_;
};

} // namespace fpcompat

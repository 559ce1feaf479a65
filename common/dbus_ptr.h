// Owning pointers for libdbus objects, so that every way out of a function
// drops the references it holds, as systemd's _cleanup_ does in C.
#pragma once

#include <dbus/dbus.h>

#include <memory>

struct DBusMessageUnref {
    void operator()(DBusMessage *msg) const { dbus_message_unref(msg); }
};
using MessagePtr = std::unique_ptr<DBusMessage, DBusMessageUnref>;

// A private connection must be closed before its last reference goes.
struct DBusPrivateConnectionClose {
    void operator()(DBusConnection *conn) const
    {
        dbus_connection_close(conn);
        dbus_connection_unref(conn);
    }
};
using PrivateConnectionPtr = std::unique_ptr<DBusConnection, DBusPrivateConnectionClose>;

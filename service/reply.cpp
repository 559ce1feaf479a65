// Method returns and error replies.
#include <cstdarg>

#include "log/log.h"
#include "service/vorl2547_svr.h"

bool vlSendReply(DBusConnection *conn, DBusMessage *call, DBusMessage *reply)
{
    // A caller that asked for no reply gets none: the bus would refuse it as
    // unrequested, at some cost to everyone when a client sends thousands.
    if (dbus_message_get_no_reply(call))
        return true;
    return dbus_connection_send(conn, reply, nullptr);
}

void vlReplyEmpty(DBusConnection *conn, DBusMessage *call)
{
    DBusMessage *reply = dbus_message_new_method_return(call);
    if (reply == nullptr) {
        vllogstr("No memory");
        return;
    }
    if (!vlSendReply(conn, call, reply))
        vllogstr("No memory");
    dbus_message_unref(reply);
}

void vlReplyError(DBusConnection *conn, DBusMessage *call, const DBusError *err)
{
    DBusMessage *reply = dbus_message_new_error(call, err->name, err->message);
    vllogstr("ret err");
    if (reply == nullptr) {
        vllogstr("No memory");
        return;
    }
    if (!vlSendReply(conn, call, reply))
        vllogstr("send fail");
    dbus_message_unref(reply);
}

void vlReplyFailed(DBusConnection *conn, DBusMessage *call, DBusError *err, const char *text)
{
    dbus_error_free(err);
    dbus_set_error_const(err, VL_ERROR_FAILED, text);
    vlReplyError(conn, call, err);
}

void vlReplyResult(DBusConnection *conn, DBusMessage *call, DBusError *err, int result, const char *failText)
{
    if (result != 0 && failText != nullptr)
        vlReplyFailed(conn, call, err, failText);
    else
        vlReplyEmpty(conn, call);
}

bool vlPassClaimGate(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    if (m_claimed.load() != 0)
        return true;
    vlReplyFailed(conn, call, err, "not claimed.");
    return false;
}

bool vlBeginCall(DBusConnection *conn, DBusMessage *call, DBusError *err, const char *entryLine, int firstArgType, ...)
{
    vllogstr(entryLine);
    dbus_error_free(err);
    va_list args;
    va_start(args, firstArgType);
    dbus_bool_t parsed = dbus_message_get_args_valist(call, err, firstArgType, args);
    va_end(args);
    if (!parsed)
        vlReplyError(conn, call, err);
    return parsed;
}

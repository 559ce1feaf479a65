#include "compat/bus.h"

namespace fpcompat {

namespace {

void onPending(DBusPendingCall *pending, void *data)
{
    auto *done = static_cast<ReplyFn *>(data);
    Reply r;
    r.msg = Message(dbus_pending_call_steal_reply(pending));
    if (!r.msg) {
        r.error = DBUS_ERROR_NO_REPLY;
        r.errorText = "no reply";
    } else if (dbus_message_get_type(r.msg.get()) == DBUS_MESSAGE_TYPE_ERROR) {
        DBusError e;
        dbus_error_init(&e);
        dbus_set_error_from_message(&e, r.msg.get());
        r.error = e.name ? e.name : DBUS_ERROR_FAILED;
        r.errorText = e.message ? e.message : "";
        dbus_error_free(&e);
    }
    (*done)(r);
}

std::function<void(DBusMessage *)> s_replyObserver;

void freeCallback(void *data) { delete static_cast<ReplyFn *>(data); }

} // namespace

void callAsync(DBusConnection *conn, Message call, int timeoutMs, ReplyFn done)
{
    DBusPendingCall *pending = nullptr;
    if (!call || !dbus_connection_send_with_reply(conn, call.get(), &pending, timeoutMs) || !pending) {
        Reply r;
        r.error = DBUS_ERROR_DISCONNECTED;
        r.errorText = "cannot send";
        done(r);
        return;
    }
    auto *fn = new ReplyFn(std::move(done));
    if (!dbus_pending_call_set_notify(pending, onPending, fn, freeCallback)) {
        delete fn;
        dbus_pending_call_cancel(pending);
    } else if (dbus_pending_call_get_completed(pending)) {
        // Completed before the notify was set: libdbus will not call it.
        onPending(pending, fn);
        dbus_pending_call_set_notify(pending, nullptr, nullptr, nullptr);
    }
    dbus_pending_call_unref(pending);
}

void send(DBusConnection *conn, Message msg)
{
    if (!msg)
        return;
    int type = dbus_message_get_type(msg.get());
    if (s_replyObserver && (type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR))
        s_replyObserver(msg.get());
    dbus_connection_send(conn, msg.get(), nullptr);
}

void setReplyObserver(std::function<void(DBusMessage *)> observer) { s_replyObserver = std::move(observer); }

void replyEmpty(DBusConnection *conn, DBusMessage *call) { send(conn, Message(dbus_message_new_method_return(call))); }

void replyError(DBusConnection *conn, DBusMessage *call, const char *name, const std::string &text)
{
    send(conn, Message(dbus_message_new_error(call, name, text.c_str())));
}

bool appendVariant(DBusMessageIter *it, int type, const void *value)
{
    char sig[2] = {static_cast<char>(type), '\0'};
    DBusMessageIter var;
    return dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, sig, &var) &&
           dbus_message_iter_append_basic(&var, type, value) && dbus_message_iter_close_container(it, &var);
}

} // namespace fpcompat

// ListFingers (s id): the names of the user's stored fingers.
#include <cstring>

#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

// Appends the count names packed in the list, each ended by a NUL. Stops at
// the end of the buffer whatever count says, and leaves out a name that is
// not UTF-8 (a file created outside the daemon): libdbus aborts the process
// on such a string.
static void appendNames(DBusMessageIter *array, const char *list, size_t size, int32_t count)
{
    size_t pos = 0;
    for (int32_t i = 0; i < count && pos < size; ++i) {
        const char *name = list + pos;
        size_t len = strnlen(name, size - pos);
        if (len == size - pos)
            break;
        if (dbus_validate_utf8(name, nullptr))
            dbus_message_iter_append_basic(array, DBUS_TYPE_STRING, &name);
        pos += len + 1;
    }
}

// 0 when the list went out, 1 otherwise.
static int sendList(DBusConnection *conn, DBusMessage *call, const char *names, size_t size, int32_t count)
{
    DBusMessage *reply = dbus_message_new_method_return(call);
    if (reply == nullptr) {
        vllogstr("No memory");
        return 1;
    }
    // Clients rely on the element type: a user without fingers gets an empty
    // array of {ss}, not of s.
    DBusMessageIter args;
    DBusMessageIter array;
    dbus_message_iter_init_append(reply, &args);
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, count != 0 ? "s" : "{ss}", &array);
    if (count != 0)
        appendNames(&array, names, size, count);
    dbus_message_iter_close_container(&args, &array);

    int rc = 0;
    if (!vlSendReply(conn, call, reply)) {
        vllogstr("No memory");
        rc = 1;
    }
    dbus_message_unref(reply);
    return rc;
}

void vlReplyEmptyList(DBusConnection *conn, DBusMessage *call) { sendList(conn, call, nullptr, 0, 0); }

int handle_ListFingers(DBusConnection *conn, DBusMessage *call)
{
    DBusError err;
    dbus_error_init(&err);
    const char *id = nullptr;
    if (!dbus_message_get_args(call, &err, DBUS_TYPE_STRING, &id, DBUS_TYPE_INVALID)) {
        vlReplyError(conn, call, &err);
        dbus_error_free(&err);
        return 1;
    }

    char names[VL_NAME_LIST_SIZE];
    memset(names, 0, sizeof names);
    int32_t count = 0;
    if (vlLstFp(id, names, &count) != 0) {
        vlReplyFailed(conn, call, &err, "ListFingers fail.");
        dbus_error_free(&err);
        return 1;
    }
    _vllog("num=%d", count);
    return sendList(conn, call, names, sizeof names, count);
}

// Which handler answers which call. The rows are matched top to bottom and
// the first match wins.
#include <cstring>

#include "log/log.h"
#include "service/vorl2547_svr.h"

static void handleListFingersCall(DBusConnection *conn, DBusMessage *call, DBusError *)
{
    // Keeps its own error record and result; nobody looks at the result.
    handle_ListFingers(conn, call);
}

// The last column answers a name too long to be one: what the member says to
// a name it cannot use (a failure, or the empty answer of a user or property
// that does not exist).
const VlMethod vlMethods[] = {
    {VL_INTERFACE, "Claim", "sb", handle_Claim, "OpenDevice fail."},
    {VL_INTERFACE, "Enroll", "ss", handle_Enroll, "Enroll fail."},
    {VL_INTERFACE, "StopEnroll", "", handle_StopEnroll, nullptr},
    {VL_INTERFACE, "Verify", "s", handle_Verify, "Verify fail."},
    {VL_INTERFACE, "VerifyUser", "ss", handle_VerifyUser, "VerifyUser fail."},
    {VL_INTERFACE, "StopVerify", "", handle_StopVerify, nullptr},
    {VL_INTERFACE, "DeleteFinger", "ss", handle_DeleteFinger, "DeleteFinger fail."},
    {VL_INTERFACE, "DeleteAllFingers", "s", handle_DeleteAllFingers, nullptr},
    {VL_INTERFACE, "ListFingers", "s", handleListFingersCall, nullptr},
    {VL_INTERFACE, "RenameFinger", "sss", handle_RenameFinger, "RenameFinger fail."},
    {VL_PROPERTIES_INTERFACE, "Get", "ss", handle_GetProperty, nullptr},
    {VL_PROPERTIES_INTERFACE, "GetAll", "s", handle_GetAllProperty, nullptr},
};
const size_t vlMethodCount = sizeof vlMethods / sizeof vlMethods[0];

// The object path is never looked at, and a call without an interface header
// is matched by its member alone.
static bool matches(DBusMessage *msg, const VlMethod &m)
{
    const char *member = dbus_message_get_member(msg);
    const char *interface = dbus_message_get_interface(msg);
    return member != nullptr && strcmp(member, m.member) == 0 &&
           (interface == nullptr || strcmp(interface, m.interface) == 0);
}

const VlMethod *vlFindMethod(DBusMessage *msg)
{
    if (dbus_message_get_type(msg) != DBUS_MESSAGE_TYPE_METHOD_CALL)
        return nullptr;
    for (size_t i = 0; i < vlMethodCount; ++i)
        if (matches(msg, vlMethods[i]))
            return &vlMethods[i];
    return nullptr;
}

// True when the call's arguments have the types the member parses and one of
// its strings is longer than any name. Arguments of other types are left to
// the handler's parser, whose error comes first.
static bool hasOversizedName(DBusMessage *msg, const VlMethod &m)
{
    DBusMessageIter it;
    bool more = dbus_message_iter_init(msg, &it);
    bool oversized = false;
    for (const char *type = m.signature; *type != '\0'; ++type) {
        if (!more || dbus_message_iter_get_arg_type(&it) != *type)
            return false;
        if (*type == DBUS_TYPE_STRING) {
            const char *text = nullptr;
            dbus_message_iter_get_basic(&it, &text);
            oversized = oversized || strnlen(text, VL_MAX_NAME_ARG + 1) > VL_MAX_NAME_ARG;
        }
        more = dbus_message_iter_next(&it);
    }
    return oversized;
}

static void refuseOversized(DBusConnection *conn, DBusMessage *msg, DBusError *err, const VlMethod &m)
{
    _vllog("%s: name too long", m.member);
    if (m.oversized != nullptr)
        vlReplyFailed(conn, msg, err, m.oversized);
    else if (m.handler == handleListFingersCall)
        vlReplyEmptyList(conn, msg);
    else
        vlReplyEmpty(conn, msg);
}

// Anything else (signals, replies, introspection, unknown members) is
// released without an answer.
bool vlDispatch(DBusConnection *conn, DBusMessage *msg, DBusError *err)
{
    const VlMethod *m = vlFindMethod(msg);
    if (m == nullptr)
        return false;
    // A megabyte of id costs a walk over it in every check and log line; no
    // name that long can exist.
    if (hasOversizedName(msg, *m))
        refuseOversized(conn, msg, err, *m);
    else
        m->handler(conn, msg, err);
    return true;
}

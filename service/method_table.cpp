// Which handler answers which call. The rows are matched top to bottom and
// the first match wins.
#include <cstring>

#include "service/vorl2547_svr.h"

static void handleListFingersCall(DBusConnection *conn, DBusMessage *call, DBusError *)
{
    // Keeps its own error record and result; nobody looks at the result.
    handle_ListFingers(conn, call);
}

const VlMethod vlMethods[] = {
    {VL_INTERFACE, "Claim", "sb", handle_Claim},
    {VL_INTERFACE, "Enroll", "ss", handle_Enroll},
    {VL_INTERFACE, "StopEnroll", "", handle_StopEnroll},
    {VL_INTERFACE, "Verify", "s", handle_Verify},
    {VL_INTERFACE, "StopVerify", "", handle_StopVerify},
    {VL_INTERFACE, "DeleteFinger", "ss", handle_DeleteFinger},
    {VL_INTERFACE, "DeleteAllFingers", "s", handle_DeleteAllFingers},
    {VL_INTERFACE, "ListFingers", "s", handleListFingersCall},
    {VL_INTERFACE, "RenameFinger", "sss", handle_RenameFinger},
    {VL_PROPERTIES_INTERFACE, "Get", "ss", handle_GetProperty},
    {VL_PROPERTIES_INTERFACE, "GetAll", "s", handle_GetAllProperty},
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

// Anything else (signals, replies, introspection, unknown members) is
// released without an answer.
bool vlDispatch(DBusConnection *conn, DBusMessage *msg, DBusError *err)
{
    const VlMethod *m = vlFindMethod(msg);
    if (m == nullptr)
        return false;
    m->handler(conn, msg, err);
    return true;
}

// DeleteFinger, DeleteAllFingers and RenameFinger: changes to the stored
// fingers of one user. ListFingers has a file of its own.
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

void handle_DeleteFinger(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *id = nullptr;
    const char *finger = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_DeleteFinger", DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &finger,
                     DBUS_TYPE_INVALID))
        return;
    char shownId[VLLOG_ESCAPED_SIZE];
    char shownFinger[VLLOG_ESCAPED_SIZE];
    _vllog("--rcved: id=%s finger=%s", vllogEscape(id, shownId, sizeof shownId),
           vllogEscape(finger, shownFinger, sizeof shownFinger));
    vlReplyResult(conn, call, err, vlDelFp(id, finger), "DeleteFinger fail.");
}

// Succeeds whatever the store says: a user with nothing stored has nothing
// left to delete.
void handle_DeleteAllFingers(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *id = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_DeleteAllFingers", DBUS_TYPE_STRING, &id, DBUS_TYPE_INVALID))
        return;
    char shownId[VLLOG_ESCAPED_SIZE];
    _vllog("--rcved: id=%s", vllogEscape(id, shownId, sizeof shownId));
    vlDelAllFp(id);
    vlReplyEmpty(conn, call);
}

void handle_RenameFinger(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *id = nullptr;
    const char *finger = nullptr;
    const char *newname = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_RenameFinger", DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &finger,
                     DBUS_TYPE_STRING, &newname, DBUS_TYPE_INVALID))
        return;
    char shownId[VLLOG_ESCAPED_SIZE];
    char shownFinger[VLLOG_ESCAPED_SIZE];
    char shownNew[VLLOG_ESCAPED_SIZE];
    _vllog("--rcved: id=%s finger=%s newname=%s", vllogEscape(id, shownId, sizeof shownId),
           vllogEscape(finger, shownFinger, sizeof shownFinger), vllogEscape(newname, shownNew, sizeof shownNew));
    vlReplyResult(conn, call, err, vlRenameFp(id, finger, newname), "RenameFinger fail.");
}

// Claim (s id, b claimed): open or release the sensor for the caller.
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

void handle_Claim(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *id = nullptr;
    dbus_bool_t claimed = FALSE;
    if (!vlBeginCall(conn, call, err, "handle_claim", DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &claimed,
                     DBUS_TYPE_INVALID))
        return;
    // The id is only logged: the sensor is held by a connection, not a user.
    char shown[VLLOG_ESCAPED_SIZE];
    _vllog("--rcved: id=%s claimed=%d", vllogEscape(id, shown, sizeof shown), claimed);

    // Another client's claim is neither released nor taken over.
    if (!vlCallerMayUseSensor(call)) {
        vllogstr("claimed by another client");
        vlReplyFailed(conn, call, err, "OpenDevice fail.");
        return;
    }
    if (!claimed) {
        vlReleaseSensor(conn);
        vlReplyEmpty(conn, call);
        return;
    }
    bool renewed = m_claimed.load() != 0;
    // A worker still capturing would be left with a closed handle.
    vlStopWorker();
    // A failed open leaves an earlier claim in place.
    if (vlOpenDev() != 0) {
        vlReplyFailed(conn, call, err, "OpenDevice fail.");
        return;
    }
    m_claimed = 1;
    vlClaimTakenBy(conn, call, renewed);
    vlReplyEmpty(conn, call);
}

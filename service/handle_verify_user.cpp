// VerifyUser (s id, s finger): a verification run against one user's stored
// fingers only, for a caller that knows whom to expect (a login, a screen
// locker). Owned, gated and signalled as Verify is; StopVerify ends it. A
// match's VerifyStatus names the finger: (id, 0, "{finger:NAME}").
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

void handle_VerifyUser(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *id = nullptr;
    const char *finger = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_VerifyUser", DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &finger,
                     DBUS_TYPE_INVALID))
        return;
    char shownId[VLLOG_ESCAPED_SIZE];
    char shownFinger[VLLOG_ESCAPED_SIZE];
    _vllog("--rcved: id=%s finger=%s", vllogEscape(id, shownId, sizeof shownId),
           vllogEscape(finger, shownFinger, sizeof shownFinger));
    if (!vlPassClaimGate(conn, call, err))
        return;
    if (!vlCallerMayUseSensor(call)) {
        vlReplyFailed(conn, call, err, "VerifyUser fail.");
        return;
    }
    // Only the holder gets here, and any worker still running is its own.
    vlSetStatusDestination(dbus_message_get_sender(call));
    vlReplyResult(conn, call, err, vlVerifyUserFp(id, finger), "VerifyUser fail.");
}

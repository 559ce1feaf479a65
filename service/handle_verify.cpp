// Verify (s finger) and StopVerify (): start and stop a verification run.
// The run itself reports through VerifyStatus signals, to its caller only.
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

void handle_Verify(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *finger = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_Verify", DBUS_TYPE_STRING, &finger, DBUS_TYPE_INVALID))
        return;
    char shown[VLLOG_ESCAPED_SIZE];
    _vllog("--rcved: finger=%s", vllogEscape(finger, shown, sizeof shown));
    if (!vlPassClaimGate(conn, call, err))
        return;
    if (!vlCallerMayUseSensor(call)) {
        vlReplyFailed(conn, call, err, "Verify fail.");
        return;
    }
    // Only the holder gets here, and any worker still running is its own.
    vlSetStatusDestination(dbus_message_get_sender(call));
    vlReplyResult(conn, call, err, vlVerifyFp(finger), "Verify fail.");
}

// Not gated: a screen locker may stop its run at any time, claimed or not.
// Another client's run is not the caller's to stop: the answer is the same,
// and nothing happens.
void handle_StopVerify(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    if (!vlBeginCall(conn, call, err, "handle_StopVerify", DBUS_TYPE_INVALID))
        return;
    if (vlCallerMayUseSensor(call))
        vlStopVerify();
    else
        vllogstr("claimed by another client");
    vlReplyEmpty(conn, call);
}

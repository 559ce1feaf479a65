// Verify (s finger) and StopVerify (): start and stop a verification run.
// The run itself reports through VerifyStatus signals.
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

void handle_Verify(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *finger = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_Verify", DBUS_TYPE_STRING, &finger,
                     DBUS_TYPE_INVALID))
        return;
    _vllog("--rcved: finger=%s", finger);
    if (!vlPassClaimGate(conn, call, err))
        return;
    vlReplyResult(conn, call, err, vlVerifyFp(finger), "Verify fail.");
}

// Not gated: a screen locker may stop whatever is running at any time.
void handle_StopVerify(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    if (!vlBeginCall(conn, call, err, "handle_StopVerify", DBUS_TYPE_INVALID))
        return;
    vlStopVerify();
    vlReplyEmpty(conn, call);
}

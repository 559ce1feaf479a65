// Verify (s finger) and StopVerify (): start and stop a verification run.
// The run itself reports through VerifyStatus signals.
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

void handle_Verify(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    vllogstr("handle_Verify");
    dbus_error_free(err);
    const char *finger = nullptr;
    if (!dbus_message_get_args(call, err, DBUS_TYPE_STRING, &finger, DBUS_TYPE_INVALID)) {
        vlReplyError(conn, call, err);
        return;
    }
    _vllog("--rcved: finger=%s", finger);
    if (!vlPassClaimGate(conn, call, err))
        return;
    vlReplyResult(conn, call, err, vlVerifyFp(finger), "Verify fail.");
}

// Not gated: a screen locker may stop whatever is running at any time.
void handle_StopVerify(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    vllogstr("handle_StopVerify");
    dbus_error_free(err);
    vlStopVerify();
    vlReplyEmpty(conn, call);
}

// Enroll (s id, s finger) and StopEnroll (): start and stop an enrollment run.
// The run itself reports through EnrollStatus signals.
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

void handle_Enroll(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *id = nullptr;
    const char *finger = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_Enroll", DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING,
                     &finger, DBUS_TYPE_INVALID))
        return;
    _vllog("--rcved: id=%s, finger=%s", id, finger);
    if (!vlPassClaimGate(conn, call, err))
        return;
    // A refusal (too many fingers, name taken) goes out as a signal before
    // this reply, and vlEnrollFp still returns 0 for it.
    vlReplyResult(conn, call, err, vlEnrollFp(id, finger), "Enroll fail.");
}

void handle_StopEnroll(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    if (!vlBeginCall(conn, call, err, "handle_StopEnroll", DBUS_TYPE_INVALID))
        return;
    if (!vlPassClaimGate(conn, call, err))
        return;
    vlStopEnroll();
    vlReplyEmpty(conn, call);
}

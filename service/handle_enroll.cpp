// Enroll (s id, s finger) and StopEnroll (): start and stop an enrollment run.
// The run itself reports through EnrollStatus signals, to its caller only.
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

void handle_Enroll(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *id = nullptr;
    const char *finger = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_Enroll", DBUS_TYPE_STRING, &id, DBUS_TYPE_STRING, &finger,
                     DBUS_TYPE_INVALID))
        return;
    char shownId[VLLOG_ESCAPED_SIZE];
    char shownFinger[VLLOG_ESCAPED_SIZE];
    _vllog("--rcved: id=%s, finger=%s", vllogEscape(id, shownId, sizeof shownId),
           vllogEscape(finger, shownFinger, sizeof shownFinger));
    if (!vlPassClaimGate(conn, call, err))
        return;
    if (!vlCallerMayUseSensor(call)) {
        vlReplyFailed(conn, call, err, "Enroll fail.");
        return;
    }
    // Only the holder gets here, and any worker still running is its own:
    // a release or a new claim ends the worker first.
    vlSetStatusDestination(dbus_message_get_sender(call));
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
    // To anyone but the holder the sensor is as good as not claimed.
    if (!vlCallerMayUseSensor(call)) {
        vlReplyFailed(conn, call, err, "not claimed.");
        return;
    }
    vlStopEnroll();
    vlReplyEmpty(conn, call);
}

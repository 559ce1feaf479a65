// The two status signals, sent on the daemon's connection from whichever
// thread reports (the enrollment or verification worker, or the main thread).
#include "log/log.h"
#include "service/sig_encode.h"
#include "service/vlsig.h"
#include "service/vorl2547_svr.h"

static int32_t emitStatus(DBusConnection *conn, const char *member, const VlSigArgs &args)
{
    DBusMessage *signal =
        conn != nullptr ? dbus_message_new_signal(VL_SIGNAL_PATH, VL_INTERFACE, member) : nullptr;
    if (signal == nullptr) {
        vllogstr("Message Null");
        return RES_FAILED;
    }
    // An id read from a directory name need not be UTF-8, and libdbus aborts
    // the process on such a string rather than send it.
    if (!dbus_validate_utf8(args.id, nullptr)) {
        vllogstr("invalid id");
        dbus_message_unref(signal);
        return RES_FAILED;
    }
    const char *text = args.text;
    if (!dbus_message_append_args(signal, DBUS_TYPE_STRING, &args.id, DBUS_TYPE_INT32,
                                  &args.status, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID) ||
        !dbus_connection_send(conn, signal, nullptr)) {
        vllogstr("Out of memory");
        dbus_message_unref(signal);
        return RES_FAILED;
    }
    // The worker goes on only once its signal is on the bus, so the signals
    // of one thread leave in order.
    dbus_connection_flush(conn);
    dbus_message_unref(signal);
    return RES_SUCCESS;
}

static const char *orEmpty(const char *id) { return id != nullptr ? id : ""; }

int32_t vlSigEnrollStatus(const char *id, int32_t status, int32_t detail)
{
    DBusConnection *conn = m_conn;
    _vllog("EnrollStatus %s %d %d", orEmpty(id), status, detail);
    VlSigArgs args;
    vlEncodeEnrollStatus(id, status, detail, &args);
    return emitStatus(conn, "EnrollStatus", args);
}

int32_t vlSigVerifyStatus(const char *id, int32_t status, int32_t detail)
{
    DBusConnection *conn = m_conn;
    _vllog("VerifyStatus %s %d %d", orEmpty(id), status, detail);
    VlSigArgs args;
    vlEncodeVerifyStatus(id, status, detail, &args);
    return emitStatus(conn, "VerifyStatus", args);
}

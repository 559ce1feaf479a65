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

using Encoder = void (*)(const char *id, int32_t status, int32_t detail, VlSigArgs *out);

// Logs the event as passed, before any encoding ("EnrollStatus alice 2 9").
static int32_t reportStatus(const char *member, Encoder encode, const char *id, int32_t status,
                            int32_t detail)
{
    DBusConnection *conn = m_conn;
    _vllog("%s %s %d %d", member, id != nullptr ? id : "", status, detail);
    VlSigArgs args;
    encode(id, status, detail, &args);
    return emitStatus(conn, member, args);
}

int32_t vlSigEnrollStatus(const char *id, int32_t status, int32_t detail)
{
    return reportStatus("EnrollStatus", vlEncodeEnrollStatus, id, status, detail);
}

int32_t vlSigVerifyStatus(const char *id, int32_t status, int32_t detail)
{
    return reportStatus("VerifyStatus", vlEncodeVerifyStatus, id, status, detail);
}

// The two status signals, sent on the daemon's connection from whichever
// thread reports (the enrollment or verification worker, or the main thread).
#include <cstdio>
#include <mutex>

#include "common/dbus_ptr.h"
#include "log/log.h"
#include "protocol/run_status.h"
#include "service/sig_encode.h"
#include "service/vlsig.h"
#include "service/vorl2547_svr.h"

// The connection that started the running enrollment or verification. Its
// results are nobody else's business: who touched the sensor, and whether a
// login succeeded. Set on the main thread, read by the worker.
static std::mutex s_destinationMutex;
static char s_destination[256];
static bool s_destinationValid = true;

void vlSetStatusDestination(const char *name)
{
    std::lock_guard lock(s_destinationMutex);
    int n = std::snprintf(s_destination, sizeof s_destination, "%s", name != nullptr ? name : "");
    // The bus only hands out valid names of at most 255 characters; anything
    // else (libdbus would abort on it) addresses nobody, and a cut name could
    // be somebody else's.
    s_destinationValid = n >= 0 && static_cast<size_t>(n) < sizeof s_destination &&
                         (n == 0 || dbus_validate_bus_name(s_destination, nullptr));
}

// An empty destination (a caller without a bus name, on a peer-to-peer
// connection) leaves the signal a broadcast, as it always was.
static bool addressSignal(DBusMessage *signal)
{
    std::lock_guard lock(s_destinationMutex);
    if (!s_destinationValid)
        return false;
    return s_destination[0] == '\0' || dbus_message_set_destination(signal, s_destination);
}

static int32_t emitStatus(DBusConnection *conn, const char *member, const VlSigArgs &args)
{
    MessagePtr signal(conn != nullptr ? dbus_message_new_signal(VL_SIGNAL_PATH, VL_INTERFACE, member) : nullptr);
    if (signal == nullptr) {
        vllogstr("Message Null");
        return RES_FAILED;
    }
    // An id read from a directory name need not be UTF-8, and libdbus aborts
    // the process on such a string rather than send it.
    if (!dbus_validate_utf8(args.id, nullptr)) {
        vllogstr("invalid id");
        return RES_FAILED;
    }
    if (!addressSignal(signal.get())) {
        vllogstr("no destination");
        return RES_FAILED;
    }
    const char *text = args.text;
    if (!dbus_message_append_args(signal.get(), DBUS_TYPE_STRING, &args.id, DBUS_TYPE_INT32, &args.status,
                                  DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID) ||
        !dbus_connection_send(conn, signal.get(), nullptr)) {
        vllogstr("Out of memory");
        return RES_FAILED;
    }
    // The worker goes on only once its signal is on the bus, so the signals
    // of one thread leave in order.
    dbus_connection_flush(conn);
    return RES_SUCCESS;
}

using Encoder = void (*)(const char *id, int32_t status, int32_t detail, VlSigArgs *out);

// Logs the event as passed, before any encoding ("EnrollStatus alice 2 9").
static int32_t reportStatus(const char *member, Encoder encode, const char *id, int32_t status, int32_t detail)
{
    DBusConnection *conn = m_conn;
    char shown[VLLOG_ESCAPED_SIZE];
    _vllog("%s %s %d %d", member, vllogEscape(id != nullptr ? id : "", shown, sizeof shown), status, detail);
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

int32_t vlSigVerifyMatch(const char *id, const char *finger)
{
    DBusConnection *conn = m_conn;
    char shown[VLLOG_ESCAPED_SIZE];
    char shownFinger[VLLOG_ESCAPED_SIZE];
    _vllog("VerifyStatus %s %d %d finger=%s", vllogEscape(id != nullptr ? id : "", shown, sizeof shown), VERIFY_MATCH,
           0, vllogEscape(finger != nullptr ? finger : "", shownFinger, sizeof shownFinger));
    // A file name need not be UTF-8, and libdbus aborts on such a string:
    // the match then goes out without its finger.
    if (finger != nullptr && !dbus_validate_utf8(finger, nullptr))
        finger = "";
    VlSigArgs args;
    vlEncodeVerifyMatch(id, finger, &args);
    return emitStatus(conn, "VerifyStatus", args);
}

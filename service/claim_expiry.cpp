// Any local user may claim the sensor, so an idle claim would keep it from
// every login and screen locker for as long as its holder liked. A claim by
// root (the fprintd front end, a login manager's PAM module) is kept; any
// other holder loses its claim after a while with no run of its own, and
// gets "not claimed." from its next call.
#include "service/claim_expiry.h"

#include <chrono>

#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int BUS_ANSWER_MS = 2000;

// Main thread only.
bool s_expires = false;
Clock::time_point s_idleSince;

// The holder's uid, or false when the bus does not say.
bool unixUser(DBusConnection *conn, const std::string &name, dbus_uint32_t &uid)
{
    DBusMessage *ask =
        dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixUser");
    const char *text = name.c_str();
    if (ask == nullptr || !dbus_message_append_args(ask, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID)) {
        if (ask != nullptr)
            dbus_message_unref(ask);
        return false;
    }
    DBusMessage *answer = dbus_connection_send_with_reply_and_block(conn, ask, BUS_ANSWER_MS, nullptr);
    dbus_message_unref(ask);
    if (answer == nullptr)
        return false;
    bool ok = dbus_message_get_args(answer, nullptr, DBUS_TYPE_UINT32, &uid, DBUS_TYPE_INVALID);
    dbus_message_unref(answer);
    return ok;
}

} // namespace

void vlClaimExpiryStart(DBusConnection *conn, const std::string &owner)
{
    s_idleSince = Clock::now();
    // A holder without a name is a private connection, not a bus client.
    dbus_uint32_t uid = 0;
    s_expires = !owner.empty() && !(unixUser(conn, owner, uid) && uid == 0);
}

void vlExpireIdleClaim(DBusConnection *conn)
{
    if (!s_expires || m_claimed.load() == 0)
        return;
    if (vlRunActive()) {
        s_idleSince = Clock::now();
        return;
    }
    if (Clock::now() - s_idleSince < std::chrono::seconds(VL_IDLE_CLAIM_SECONDS))
        return;
    _vllog("idle claim released after %d s", VL_IDLE_CLAIM_SECONDS);
    s_expires = false;
    vlReleaseSensor(conn);
}

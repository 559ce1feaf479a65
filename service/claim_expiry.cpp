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

// Main thread only.
bool s_expires = false;
Clock::time_point s_idleSince;

// The holder's uid, or false when the bus does not say.
bool unixUser(DBusConnection *conn, const std::string &name, dbus_uint32_t &uid)
{
    MessagePtr answer = vlAskBus(conn, "GetConnectionUnixUser", name);
    return answer && dbus_message_get_args(answer.get(), nullptr, DBUS_TYPE_UINT32, &uid, DBUS_TYPE_INVALID);
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

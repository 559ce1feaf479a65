// The claim belongs to the bus connection that made it. Anybody on the bus
// may call Claim, so without an owner any local user could end or take over
// a login's verification at will. The owner's departure from the bus, a
// crash included, ends its run and gives the sensor back.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/claim_expiry.h"
#include "service/vorl2547_svr.h"

namespace {

// Unique bus name of the claim's holder; empty when the holder is not known
// (a peer-to-peer connection has no sender). Main thread only.
std::string s_owner;
// The match rule that brings the owner's NameOwnerChanged, while installed.
std::string s_watchRule;

const char *senderOf(DBusMessage *msg)
{
    const char *sender = dbus_message_get_sender(msg);
    return sender != nullptr ? sender : "";
}

// Added without waiting for the bus's answer; a rule the bus refuses only
// leaves the release to the owner's own Claim(..., false).
void watch(DBusConnection *conn, const std::string &name)
{
    char rule[512];
    int n = std::snprintf(rule, sizeof rule,
                          "type='signal',sender='%s',interface='%s',member='NameOwnerChanged',"
                          "arg0='%s'",
                          DBUS_SERVICE_DBUS, DBUS_INTERFACE_DBUS, name.c_str());
    if (n < 0 || static_cast<size_t>(n) >= sizeof rule)
        return;
    s_watchRule = rule;
    dbus_bus_add_match(conn, rule, nullptr);
}

void unwatch(DBusConnection *conn)
{
    if (!s_watchRule.empty())
        dbus_bus_remove_match(conn, s_watchRule.c_str(), nullptr);
    s_watchRule.clear();
}

// The bus answers this after it has installed the rule above, so an owner
// gone before the rule existed is found here and one gone later by the rule.
// The loop waits for the answer, so not for long; without one the owner is
// given the benefit of the doubt.
bool stillOnBus(DBusConnection *conn, const std::string &name)
{
    MessagePtr answer = vlAskBus(conn, "NameHasOwner", name);
    dbus_bool_t present = TRUE;
    if (answer && !dbus_message_get_args(answer.get(), nullptr, DBUS_TYPE_BOOLEAN, &present, DBUS_TYPE_INVALID))
        present = TRUE;
    return present;
}

} // namespace

bool vlCallerMayUseSensor(DBusMessage *call)
{
    return m_claimed.load() == 0 || s_owner.empty() || s_owner == senderOf(call);
}

void vlReleaseSensor(DBusConnection *conn)
{
    // A worker still capturing would be left with a closed handle.
    vlStopWorker();
    vlCloseDev();
    m_claimed = 0;
    unwatch(conn);
    s_owner.clear();
}

void vlClaimTakenBy(DBusConnection *conn, DBusMessage *call, bool renewed)
{
    std::string sender = senderOf(call);
    if (renewed && sender == s_owner)
        return;
    unwatch(conn);
    s_owner = sender;
    if (s_owner.empty())
        return;
    watch(conn, s_owner);
    if (!stillOnBus(conn, s_owner)) {
        _vllog("claim holder %s left", s_owner.c_str());
        vlReleaseSensor(conn);
        return;
    }
    vlClaimExpiryStart(conn, s_owner);
}

bool vlHandleOwnerLeft(DBusConnection *conn, DBusMessage *msg)
{
    if (!dbus_message_is_signal(msg, DBUS_INTERFACE_DBUS, "NameOwnerChanged") ||
        std::strcmp(senderOf(msg), DBUS_SERVICE_DBUS) != 0)
        return false;
    const char *name = nullptr;
    const char *oldOwner = nullptr;
    const char *newOwner = nullptr;
    if (!dbus_message_get_args(msg, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner, DBUS_TYPE_STRING,
                               &newOwner, DBUS_TYPE_INVALID))
        return false;
    if (m_claimed.load() == 0 || s_owner.empty() || s_owner != name || newOwner[0] != '\0')
        return false;
    // As the owner's own stop and release would have done it.
    _vllog("claim holder %s left", name);
    vlReleaseSensor(conn);
    return true;
}

// An unprivileged client holds the sensor only while it uses it.
#pragma once

#include <dbus/dbus.h>

#include <string>

// A new holder took the claim: a holder other than root has its idle time
// counted from now. Asks the bus for the holder's uid.
void vlClaimExpiryStart(DBusConnection *conn, const std::string &owner);
// Each pass of the loop: releases the claim of a holder other than root once
// it has gone VL_IDLE_CLAIM_SECONDS with no run of its own.
void vlExpireIdleClaim(DBusConnection *conn);

inline constexpr int VL_IDLE_CLAIM_SECONDS = 30;

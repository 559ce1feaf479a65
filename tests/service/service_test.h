// Shared helpers of the front-end tests: calls with string arguments and
// replies that release themselves.
#pragma once

#include <memory>
#include <vector>

#include "common/dbus_ptr.h"
#include "service/vorl2547_svr.h"
#include "tests/service/bus_fixture.h"
#include "tests/service/engine_double.h"

using Reply = MessagePtr;

class ServiceTest : public BusFixture {
protected:
    void SetUp() override
    {
        BusFixture::SetUp();
        resetEngineDouble();
    }

    Reply call(const char *interface, const char *member, std::vector<const char *> args = {},
               const char *path = "/com/vorlen")
    {
        DBusMessage *msg = newCall(interface, member, path);
        for (const char *&a : args)
            dbus_message_append_args(msg, DBUS_TYPE_STRING, &a, DBUS_TYPE_INVALID);
        return Reply(roundTrip(msg));
    }
    Reply method(const char *member, std::vector<const char *> args = {}) { return call(VL_INTERFACE, member, args); }
    Reply claim(bool on)
    {
        DBusMessage *msg = newCall(VL_INTERFACE, "Claim");
        const char *id = "user";
        dbus_bool_t b = on;
        dbus_message_append_args(msg, DBUS_TYPE_STRING, &id, DBUS_TYPE_BOOLEAN, &b, DBUS_TYPE_INVALID);
        return Reply(roundTrip(msg));
    }

    static bool isEmptyReturn(const Reply &r)
    {
        return r && dbus_message_get_type(r.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN && signatureOf(r.get()).empty();
    }
};

inline constexpr const char *FAILED = "org.freedesktop.DBus.Error.Failed";
inline constexpr const char *INVALID_ARGS = "org.freedesktop.DBus.Error.InvalidArgs";

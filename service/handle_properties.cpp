// Get (s interface, s property) and GetAll (s interface) of the standard
// properties interface. Values are computed when asked.
#include <cstring>

#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "service/vorl2547_svr.h"

// 2 while claimed; otherwise 1 when a sensor is attached, else 0.
static int32_t stateValue()
{
    int32_t value = 0;
    int count = 0;
    if (m_claimed.load() != 0) {
        value = 2;
    } else if (vlLstDev(&count) == 0 && count != 0) {
        value = 1;
    }
    _vllog("state=%d,num=%d", value, count);
    return value;
}

static int32_t typeValue() { return 2; }
static int32_t capabilityValue() { return 1; }

struct VlProperty {
    const char *name;
    const char *text;    // a string property, or
    int32_t (*number)(); // an int32 property
};

// Names are compared exactly, case included.
static const VlProperty s_properties[] = {
    {"Name", "Vorl2547", nullptr},
    {"State", nullptr, stateValue},
    {"Type", nullptr, typeValue},
    {"Capability", nullptr, capabilityValue},
};

static const VlProperty *findProperty(const char *name)
{
    for (const VlProperty &p : s_properties)
        if (strcmp(p.name, name) == 0)
            return &p;
    return nullptr;
}

// The value travels as a plain s or i, not wrapped in a variant.
static void replyValue(DBusConnection *conn, DBusMessage *call, const VlProperty &p)
{
    DBusMessage *reply = dbus_message_new_method_return(call);
    if (reply == nullptr) {
        vllogstr("No memory");
        return;
    }
    dbus_bool_t appended;
    if (p.text != nullptr) {
        appended = dbus_message_append_args(reply, DBUS_TYPE_STRING, &p.text, DBUS_TYPE_INVALID);
    } else {
        int32_t value = p.number();
        appended = dbus_message_append_args(reply, DBUS_TYPE_INT32, &value, DBUS_TYPE_INVALID);
    }
    if (!appended)
        vllogstr("No memory");
    else if (!vlSendReply(conn, call, reply))
        vllogstr("No memory\n");
    dbus_message_unref(reply);
}

void handle_GetProperty(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *interface = nullptr;
    const char *property = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_GetProperty", DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                     DBUS_TYPE_INVALID))
        return;
    // The interface is not looked at: every property belongs to the device.
    char shownInterface[VLLOG_ESCAPED_SIZE];
    char shownProperty[VLLOG_ESCAPED_SIZE];
    _vllog("--rcved: interface=%s property=%s", vllogEscape(interface, shownInterface, sizeof shownInterface),
           vllogEscape(property, shownProperty, sizeof shownProperty));

    const VlProperty *p = findProperty(property);
    if (p != nullptr)
        replyValue(conn, call, *p);
    else
        vlReplyEmpty(conn, call);
}

void handle_GetAllProperty(DBusConnection *conn, DBusMessage *call, DBusError *err)
{
    const char *interface = nullptr;
    if (!vlBeginCall(conn, call, err, "handle_GetAllProperty", DBUS_TYPE_STRING, &interface, DBUS_TYPE_INVALID))
        return;
    char shownInterface[VLLOG_ESCAPED_SIZE];
    _vllog("--rcved: interface=%s ", vllogEscape(interface, shownInterface, sizeof shownInterface));
    vlReplyEmpty(conn, call);
}

#include "compat/objects.h"

#include <cstring>
#include <string>

#include "compat/fprint_api.h"

namespace fpcompat {

namespace {

constexpr char INTROSPECT_HEADER[] =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n"
    " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "  <method name=\"Introspect\"><arg name=\"xml\" type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n";

constexpr char PROPERTIES_XML[] =
    " <interface name=\"org.freedesktop.DBus.Properties\">\n"
    "  <method name=\"Get\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"out\"/></method>\n"
    "  <method name=\"GetAll\"><arg type=\"s\" direction=\"in\"/><arg type=\"a{sv}\" direction=\"out\"/></method>\n"
    "  <method name=\"Set\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"in\"/></method>\n"
    "  <signal name=\"PropertiesChanged\"><arg type=\"s\"/><arg type=\"a{sv}\"/><arg type=\"as\"/></signal>\n"
    " </interface>\n";

constexpr char MANAGER_XML[] =
    " <interface name=\"net.reactivated.Fprint.Manager\">\n"
    "  <method name=\"GetDevices\"><arg name=\"devices\" type=\"ao\" direction=\"out\"/></method>\n"
    "  <method name=\"GetDefaultDevice\"><arg name=\"device\" type=\"o\" direction=\"out\"/></method>\n"
    " </interface>\n";

constexpr char DEVICE_XML[] =
    " <interface name=\"net.reactivated.Fprint.Device\">\n"
    "  <method name=\"ListEnrolledFingers\"><arg name=\"username\" type=\"s\" direction=\"in\"/>"
    "<arg name=\"enrolled_fingers\" type=\"as\" direction=\"out\"/></method>\n"
    "  <method name=\"DeleteEnrolledFingers\"><arg name=\"username\" type=\"s\" direction=\"in\"/></method>\n"
    "  <method name=\"DeleteEnrolledFingers2\"/>\n"
    "  <method name=\"DeleteEnrolledFinger\"><arg name=\"finger_name\" type=\"s\" direction=\"in\"/></method>\n"
    "  <method name=\"Claim\"><arg name=\"username\" type=\"s\" direction=\"in\"/></method>\n"
    "  <method name=\"Release\"/>\n"
    "  <method name=\"VerifyStart\"><arg name=\"finger_name\" type=\"s\" direction=\"in\"/></method>\n"
    "  <method name=\"VerifyStop\"/>\n"
    "  <signal name=\"VerifyFingerSelected\"><arg name=\"finger_name\" type=\"s\"/></signal>\n"
    "  <signal name=\"VerifyStatus\"><arg name=\"result\" type=\"s\"/><arg name=\"done\" type=\"b\"/></signal>\n"
    "  <method name=\"EnrollStart\"><arg name=\"finger_name\" type=\"s\" direction=\"in\"/></method>\n"
    "  <method name=\"EnrollStop\"/>\n"
    "  <signal name=\"EnrollStatus\"><arg name=\"result\" type=\"s\"/><arg name=\"done\" type=\"b\"/></signal>\n"
    "  <property name=\"name\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"num-enroll-stages\" type=\"i\" access=\"read\"/>\n"
    "  <property name=\"scan-type\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"finger-present\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"finger-needed\" type=\"b\" access=\"read\"/>\n"
    " </interface>\n";

// No argument of the API comes near this: user, finger, interface and
// property names.
constexpr std::size_t MAX_ARG_BYTES = 4096;

// A call with a longer string argument (the bus lets one carry 32 MiB) is
// answered and let go at once, not kept through a check. The API takes
// basic arguments only, and a variant for Properties.Set.
bool oversized(DBusMessageIter *it, bool inVariant)
{
    do {
        int type = dbus_message_iter_get_arg_type(it);
        if (type == DBUS_TYPE_INVALID)
            return false;
        if (type == DBUS_TYPE_STRING || type == DBUS_TYPE_OBJECT_PATH || type == DBUS_TYPE_SIGNATURE) {
            const char *s = nullptr;
            dbus_message_iter_get_basic(it, &s);
            if (strnlen(s, MAX_ARG_BYTES + 1) > MAX_ARG_BYTES)
                return true;
        } else if (type == DBUS_TYPE_VARIANT && !inVariant) {
            DBusMessageIter inner;
            dbus_message_iter_recurse(it, &inner);
            if (oversized(&inner, true))
                return true;
        } else if (!dbus_type_is_basic(type)) {
            return true;
        }
    } while (dbus_message_iter_next(it));
    return false;
}

bool oversized(DBusMessage *call)
{
    DBusMessageIter it;
    return dbus_message_iter_init(call, &it) && oversized(&it, false);
}

// Every object and the path prefixes that lead to them.
const char *childOf(const std::string &path)
{
    static const struct {
        const char *path, *child;
    } TREE[] = {{"/", "net"},
                {"/net", "reactivated"},
                {"/net/reactivated", "Fprint"},
                {"/net/reactivated/Fprint", "Manager\"/>\n <node name=\"Device"},
                {"/net/reactivated/Fprint/Device", "0"}};
    for (const auto &n : TREE)
        if (path == n.path)
            return n.child;
    return nullptr;
}

} // namespace

bool Objects::attach()
{
    DBusError e;
    dbus_error_init(&e);
    const char *rules[] = {
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'",
        "type='signal',sender='com.vorlen.fprint',interface='com.vorlen.fprint'",
    };
    for (const char *rule : rules) {
        dbus_bus_add_match(conn_, rule, &e);
        if (dbus_error_is_set(&e)) {
            dbus_error_free(&e);
            return false;
        }
    }
    setReplyObserver([this](DBusMessage *reply) { limits_.answered(reply); });
    return dbus_connection_add_filter(conn_, filter, this, nullptr);
}

DBusHandlerResult Objects::filter(DBusConnection *, DBusMessage *msg, void *self)
{
    return static_cast<Objects *>(self)->handle(msg);
}

DBusHandlerResult Objects::handle(DBusMessage *msg)
{
    if (dbus_message_is_signal(msg, DBUS_INTERFACE_DBUS, "NameOwnerChanged")) {
        const char *name, *oldOwner, *newOwner, *sender = dbus_message_get_sender(msg);
        if (sender != nullptr && std::strcmp(sender, DBUS_SERVICE_DBUS) == 0 &&
            dbus_message_get_args(msg, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner, DBUS_TYPE_STRING,
                                  &newOwner, DBUS_TYPE_INVALID)) {
            if (newOwner[0] == '\0')
                limits_.senderLeft(name);
            device_.nameOwnerChanged(name, oldOwner, newOwner);
        }
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    if (dbus_message_get_type(msg) == DBUS_MESSAGE_TYPE_SIGNAL) {
        device_.daemonSignal(msg);
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    // Every call the bus routes names its sender; claims and checks need it.
    if (dbus_message_get_type(msg) != DBUS_MESSAGE_TYPE_METHOD_CALL || dbus_message_get_sender(msg) == nullptr)
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    if (oversized(msg)) {
        replyError(conn_, msg, DBUS_ERROR_INVALID_ARGS, "Argument too long");
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    if (!limits_.admit(msg)) {
        replyError(conn_, msg, DBUS_ERROR_LIMITS_EXCEEDED, "Too many calls waiting");
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    const char *path = dbus_message_get_path(msg);
    std::string p = path ? path : "";
    if (dbus_message_is_method_call(msg, INTROSPECT_IFACE, "Introspect")) {
        introspect(msg, p.c_str());
    } else if (dbus_message_has_interface(msg, PROPERTIES_IFACE) && (p == MANAGER_PATH || p == DEVICE_PATH)) {
        properties(msg, p.c_str());
    } else if (p == MANAGER_PATH && dbus_message_has_interface(msg, MANAGER_IFACE)) {
        manager(msg);
    } else if (!(p == DEVICE_PATH && device_.handle(msg))) {
        replyError(conn_, msg, DBUS_ERROR_UNKNOWN_METHOD, "No such method");
    }
    return DBUS_HANDLER_RESULT_HANDLED;
}

void Objects::manager(DBusMessage *call)
{
    bool all = dbus_message_is_method_call(call, MANAGER_IFACE, "GetDevices");
    if (!all && !dbus_message_is_method_call(call, MANAGER_IFACE, "GetDefaultDevice"))
        return replyError(conn_, call, DBUS_ERROR_UNKNOWN_METHOD, "No such method");
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    // The device is there while the daemon sees the sensor.
    daemon_.sensorPresent([this, keep, all](bool present) {
        const char *dev = DEVICE_PATH;
        if (!all && !present)
            return replyError(conn_, keep.get(), ERR_NO_SUCH_DEVICE, "No devices available");
        Message m(dbus_message_new_method_return(keep.get()));
        if (!m)
            return;
        bool ok;
        if (all) {
            const char **list = &dev;
            ok = dbus_message_append_args(m.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_OBJECT_PATH, &list, present ? 1 : 0,
                                          DBUS_TYPE_INVALID);
        } else {
            ok = dbus_message_append_args(m.get(), DBUS_TYPE_OBJECT_PATH, &dev, DBUS_TYPE_INVALID);
        }
        if (ok)
            send(conn_, std::move(m));
    });
}

void Objects::properties(DBusMessage *call, const char *path)
{
    bool device = std::strcmp(path, DEVICE_PATH) == 0;
    const char *iface = nullptr, *name = nullptr;
    Message m;
    DBusMessageIter it, dict, entry;
    if (dbus_message_is_method_call(call, PROPERTIES_IFACE, "GetAll") &&
        dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &iface, DBUS_TYPE_INVALID)) {
        m.reset(dbus_message_new_method_return(call));
        if (!m)
            return;
        dbus_message_iter_init_append(m.get(), &it);
        bool ok = dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict);
        if (device && (iface[0] == '\0' || std::strcmp(iface, DEVICE_IFACE) == 0)) {
            for (const std::string &prop : Device::propertyNames()) {
                const char *key = prop.c_str();
                ok = ok && dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
                     dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
                     device_.appendProperty(&entry, prop) && dbus_message_iter_close_container(&dict, &entry);
            }
        }
        if (ok && dbus_message_iter_close_container(&it, &dict))
            send(conn_, std::move(m));
        return;
    }
    if (dbus_message_is_method_call(call, PROPERTIES_IFACE, "Get") &&
        dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
        m.reset(dbus_message_new_method_return(call));
        if (!m)
            return;
        dbus_message_iter_init_append(m.get(), &it);
        if (device && device_.appendProperty(&it, name))
            send(conn_, std::move(m));
        else
            replyError(conn_, call, DBUS_ERROR_UNKNOWN_PROPERTY, std::string("No such property: ") + name);
        return;
    }
    if (dbus_message_is_method_call(call, PROPERTIES_IFACE, "Set"))
        return replyError(conn_, call, DBUS_ERROR_PROPERTY_READ_ONLY, "The properties are read-only");
    replyError(conn_, call, DBUS_ERROR_INVALID_ARGS, "Invalid arguments");
}

void Objects::introspect(DBusMessage *call, const char *path)
{
    std::string xml = INTROSPECT_HEADER;
    if (std::strcmp(path, MANAGER_PATH) == 0)
        xml += std::string(PROPERTIES_XML) + MANAGER_XML;
    else if (std::strcmp(path, DEVICE_PATH) == 0)
        xml += std::string(PROPERTIES_XML) + DEVICE_XML;
    else if (const char *child = childOf(path))
        xml += std::string(" <node name=\"") + child + "\"/>\n";
    xml += "</node>\n";
    Message m(dbus_message_new_method_return(call));
    const char *s = xml.c_str();
    if (m && dbus_message_append_args(m.get(), DBUS_TYPE_STRING, &s, DBUS_TYPE_INVALID))
        send(conn_, std::move(m));
}

} // namespace fpcompat

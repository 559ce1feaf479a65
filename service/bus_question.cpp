// The daemon's few questions to the bus itself (is a name still there, whose
// is it), asked and answered in one place.
#include "service/vorl2547_svr.h"

namespace {

constexpr int BUS_ANSWER_MS = 2000;

} // namespace

MessagePtr vlAskBus(DBusConnection *conn, const char *member, const std::string &name)
{
    MessagePtr ask(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, member));
    const char *text = name.c_str();
    if (!ask || !dbus_message_append_args(ask.get(), DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID))
        return nullptr;
    return MessagePtr(dbus_connection_send_with_reply_and_block(conn, ask.get(), BUS_ANSWER_MS, nullptr));
}

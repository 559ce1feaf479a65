#include "tests/service/bus_fixture.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "service/vorl2547_svr.h"
#include "tests/support/session_bus.h"

namespace {

constexpr int WAIT_MS = 2000;

DBusConnection *connect(const std::string &address)
{
    DBusError err;
    dbus_error_init(&err);
    DBusConnection *conn = dbus_connection_open_private(address.c_str(), &err);
    if (conn != nullptr && !dbus_bus_register(conn, &err)) {
        dbus_connection_close(conn);
        dbus_connection_unref(conn);
        conn = nullptr;
    }
    dbus_error_free(&err);
    return conn;
}

// The next method call on the daemon side; bus signals are skipped.
DBusMessage *nextCall(DBusConnection *conn)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    while (std::chrono::steady_clock::now() < deadline) {
        dbus_connection_read_write(conn, 50);
        while (DBusMessage *msg = dbus_connection_pop_message(conn)) {
            if (dbus_message_get_type(msg) == DBUS_MESSAGE_TYPE_METHOD_CALL)
                return msg;
            dbus_message_unref(msg);
        }
    }
    return nullptr;
}

} // namespace

void BusFixture::SetUp()
{
    dbus_threads_init_default();
    std::string address = startSessionBus(&busPid_);
    ASSERT_FALSE(address.empty()) << "dbus-daemon did not start";
    daemon_ = connect(address);
    client_ = connect(address);
    ASSERT_NE(daemon_, nullptr);
    ASSERT_NE(client_, nullptr);
    m_conn = daemon_;
    m_claimed = 0;
}

void BusFixture::TearDown()
{
    for (DBusMessage *m : signals_)
        dbus_message_unref(m);
    m_conn = nullptr;
    for (DBusConnection *c : {daemon_, client_}) {
        if (c != nullptr) {
            dbus_connection_close(c);
            dbus_connection_unref(c);
        }
    }
    if (busPid_ > 0) {
        kill(busPid_, SIGTERM);
        waitpid(busPid_, nullptr, 0);
    }
}

DBusMessage *BusFixture::newCall(const char *interface, const char *member, const char *path)
{
    return dbus_message_new_method_call(dbus_bus_get_unique_name(daemon_), path, interface, member);
}

DBusMessage *BusFixture::roundTrip(DBusMessage *call)
{
    dbus_uint32_t serial = 0;
    EXPECT_TRUE(dbus_connection_send(client_, call, &serial));
    dbus_connection_flush(client_);
    dbus_message_unref(call);

    DBusMessage *incoming = nextCall(daemon_);
    EXPECT_NE(incoming, nullptr);
    if (incoming == nullptr)
        return nullptr;
    DBusError err;
    dbus_error_init(&err);
    dispatched_ = vlDispatch(daemon_, incoming, &err);
    dbus_error_free(&err);
    dbus_message_unref(incoming);
    dbus_connection_flush(daemon_);

    // A call that is not dispatched gets nothing; don't wait the full time.
    int waitMs = dispatched_ ? WAIT_MS : 300;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        dbus_connection_read_write(client_, 50);
        while (DBusMessage *msg = dbus_connection_pop_message(client_)) {
            int type = dbus_message_get_type(msg);
            if (type == DBUS_MESSAGE_TYPE_SIGNAL && strcmp(dbus_message_get_sender(msg), DBUS_SERVICE_DBUS) != 0) {
                arrivals_.push_back(type);
                signals_.push_back(msg);
                continue;
            }
            if (dbus_message_get_reply_serial(msg) == serial) {
                arrivals_.push_back(type);
                return msg;
            }
            dbus_message_unref(msg);
        }
    }
    return nullptr;
}

std::string errorName(DBusMessage *reply)
{
    const char *name = reply != nullptr ? dbus_message_get_error_name(reply) : nullptr;
    return name != nullptr ? name : "";
}

std::string errorText(DBusMessage *reply)
{
    const char *text = nullptr;
    if (reply != nullptr && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR)
        dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
    return text != nullptr ? text : "";
}

std::string signatureOf(DBusMessage *reply) { return reply != nullptr ? dbus_message_get_signature(reply) : "?"; }

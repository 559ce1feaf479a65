// Arbitrary D-Bus method calls handed to the daemon's dispatch in process:
// message type, member, interface, object path and the argument types and
// values all come from the fuzzer. The engine works on a scratch template
// directory; replies travel over a private dbus-daemon started once per run
// to a client connection that throws them away.
#include <dbus/dbus.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/vorl2547_drv.h"
#include "fuzz/fuzz_env.h"
#include "service/vorl2547_svr.h"
#include "tests/support/session_bus.h"

namespace {

DBusConnection *s_service = nullptr;
DBusConnection *s_client = nullptr;
std::string s_clientName;
pid_t s_busPid = -1;
dbus_uint32_t s_serial = 1;

const char *const MEMBERS[] = {"Claim",        "Enroll",       "StopEnroll",       "Verify",
                               "StopVerify",   "DeleteFinger", "DeleteAllFingers", "ListFingers",
                               "RenameFinger", "Get",          "GetAll",           "Introspect"};
const char *const INTERFACES[] = {"com.vorlen.fprint", "org.freedesktop.DBus.Properties",
                                  "org.freedesktop.DBus.Introspectable", "com.vorlen"};
const char *const PATHS[] = {"/com/vorlen", "/", "/com/vorlen/fprint"};
const char *const WORDS[] = {"alice", "bob",   "left", "right",     "x", "any", "..", "/etc", "", "com.vorlen.fprint",
                             "Name",  "State", "Type", "Capability"};

[[noreturn]] void die(const char *what)
{
    fprintf(stderr, "fuzz_dispatch: %s\n", what);
    abort();
}

void killBus()
{
    if (s_busPid > 0) {
        kill(s_busPid, SIGTERM);
        waitpid(s_busPid, nullptr, 0);
    }
}

std::string startBus()
{
    std::string address = startSessionBus(&s_busPid);
    if (address.empty())
        die("dbus-daemon did not start");
    atexit(killBus);
    return address;
}

DBusConnection *connect(const std::string &address)
{
    DBusError err;
    dbus_error_init(&err);
    DBusConnection *conn = dbus_connection_open_private(address.c_str(), &err);
    if (conn == nullptr || !dbus_bus_register(conn, &err))
        die("cannot connect to the private bus");
    dbus_connection_set_exit_on_disconnect(conn, FALSE);
    return conn;
}

// Drops whatever reached a connection: replies and signals on the client,
// the bus's own signals on the service side.
void drain(DBusConnection *conn)
{
    dbus_connection_read_write(conn, 0);
    while (DBusMessage *m = dbus_connection_pop_message(conn))
        dbus_message_unref(m);
}

// A string the fuzzer chose, or one of the words the store knows, as valid
// UTF-8 (libdbus refuses anything else when it is appended).
std::string pickString(FuzzedDataProvider &in)
{
    if (in.ConsumeBool())
        return WORDS[in.ConsumeIntegralInRange<size_t>(0, std::size(WORDS) - 1)];
    size_t len = in.ConsumeIntegralInRange<size_t>(0, in.ConsumeBool() ? 80 : 5000);
    std::string s = in.ConsumeBytesAsString(len);
    for (char &c : s)
        if (c == '\0')
            c = '/';
    if (!dbus_validate_utf8(s.c_str(), nullptr))
        for (char &c : s)
            c = (c & 0x7F) != 0 ? static_cast<char>(c & 0x7F) : '.';
    return s;
}

template <size_t N>
const char *pickHeader(FuzzedDataProvider &in, const char *const (&known)[N], std::string &own,
                       dbus_bool_t (*valid)(const char *, DBusError *))
{
    if (in.ConsumeIntegralInRange<int>(0, 7) != 0)
        return known[in.ConsumeIntegralInRange<size_t>(0, N - 1)];
    own = in.ConsumeRandomLengthString(300);
    return valid(own.c_str(), nullptr) ? own.c_str() : known[0];
}

void appendString(DBusMessageIter *it, int type, const std::string &s)
{
    const char *p = s.c_str();
    if (type == DBUS_TYPE_OBJECT_PATH && !dbus_validate_path(p, nullptr))
        p = "/";
    if (type == DBUS_TYPE_SIGNATURE)
        p = "s";
    dbus_message_iter_append_basic(it, type, &p);
}

// One argument of a type the fuzzer picks: basic types, an array of strings,
// a string-to-string dictionary or a variant holding a string.
void appendArg(FuzzedDataProvider &in, DBusMessageIter *it)
{
    switch (in.ConsumeIntegralInRange<int>(0, 10)) {
    case 0:
    case 1:
    case 2: appendString(it, DBUS_TYPE_STRING, pickString(in)); break;
    case 3: {
        dbus_bool_t b = in.ConsumeBool();
        dbus_message_iter_append_basic(it, DBUS_TYPE_BOOLEAN, &b);
        break;
    }
    case 4: {
        dbus_int32_t v = in.ConsumeIntegral<dbus_int32_t>();
        dbus_message_iter_append_basic(it, DBUS_TYPE_INT32, &v);
        break;
    }
    case 5: {
        unsigned char v = in.ConsumeIntegral<unsigned char>();
        dbus_message_iter_append_basic(it, DBUS_TYPE_BYTE, &v);
        break;
    }
    case 6: appendString(it, DBUS_TYPE_OBJECT_PATH, pickString(in)); break;
    case 7: {
        DBusMessageIter sub;
        dbus_message_iter_open_container(it, DBUS_TYPE_ARRAY, "s", &sub);
        for (int n = in.ConsumeIntegralInRange<int>(0, 4); n > 0; --n)
            appendString(&sub, DBUS_TYPE_STRING, pickString(in));
        dbus_message_iter_close_container(it, &sub);
        break;
    }
    case 8: {
        DBusMessageIter sub, entry;
        dbus_message_iter_open_container(it, DBUS_TYPE_ARRAY, "{ss}", &sub);
        for (int n = in.ConsumeIntegralInRange<int>(0, 3); n > 0; --n) {
            dbus_message_iter_open_container(&sub, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
            appendString(&entry, DBUS_TYPE_STRING, pickString(in));
            appendString(&entry, DBUS_TYPE_STRING, pickString(in));
            dbus_message_iter_close_container(&sub, &entry);
        }
        dbus_message_iter_close_container(it, &sub);
        break;
    }
    case 9: {
        DBusMessageIter sub;
        dbus_message_iter_open_container(it, DBUS_TYPE_VARIANT, "s", &sub);
        appendString(&sub, DBUS_TYPE_STRING, pickString(in));
        dbus_message_iter_close_container(it, &sub);
        break;
    }
    default: {
        double d = in.ConsumeFloatingPoint<double>();
        dbus_message_iter_append_basic(it, DBUS_TYPE_DOUBLE, &d);
        break;
    }
    }
}

DBusMessage *buildMessage(FuzzedDataProvider &in)
{
    std::string ownMember, ownInterface, ownPath;
    const char *member = pickHeader(in, MEMBERS, ownMember, dbus_validate_member);
    const char *interface = pickHeader(in, INTERFACES, ownInterface, dbus_validate_interface);
    const char *path = pickHeader(in, PATHS, ownPath, dbus_validate_path);
    const int kind = in.ConsumeIntegralInRange<int>(0, 15);
    DBusMessage *msg = nullptr;
    if (kind == 0) {
        msg = dbus_message_new_signal(path, interface, member);
    } else if (kind == 1) {
        msg = dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN);
        if (msg != nullptr)
            dbus_message_set_reply_serial(msg, 1);
    } else {
        // A call without an interface header is matched by its member alone.
        msg = dbus_message_new_method_call("com.vorlen.fprint", path, kind == 2 ? nullptr : interface, member);
    }
    if (msg == nullptr)
        die("out of memory");
    dbus_message_set_serial(msg, s_serial++);
    dbus_message_set_sender(msg, s_clientName.c_str());
    DBusMessageIter it;
    dbus_message_iter_init_append(msg, &it);
    for (int n = in.ConsumeIntegralInRange<int>(0, 5); n > 0; --n)
        appendArg(in, &it);
    return msg;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzenv::setUp();
    fuzzenv::writeFile(fuzzenv::storeDir() + "alice/left.Data", 28000);
    fuzzenv::writeFile(fuzzenv::storeDir() + "alice/right.Data", 28000);
    dbus_threads_init_default();
    const std::string address = startBus();
    s_service = connect(address);
    s_client = connect(address);
    s_clientName = dbus_bus_get_unique_name(s_client);
    m_conn = s_service;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // Without a sensor a Claim never succeeds; pretending it did lets the
    // gated members (Enroll, StopEnroll, Verify) reach the engine too.
    m_claimed = in.ConsumeBool() ? 1 : 0;
    DBusMessage *msg = buildMessage(in);
    DBusError err;
    dbus_error_init(&err);
    vlDispatch(s_service, msg, &err);
    dbus_error_free(&err);
    dbus_message_unref(msg);
    // A worker started by Enroll or Verify ends before the next input, so
    // every input runs alone.
    vlStopWorker();
    m_claimed = 0;
    dbus_connection_flush(s_service);
    drain(s_service);
    drain(s_client);
    return 0;
}

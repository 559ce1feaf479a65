// The status signals: every row of both encodings, and what reaches the bus.
#include <climits>
#include <cstring>
#include <string>

#include "service/sig_encode.h"
#include "service/vlsig.h"
#include "tests/service/service_test.h"

namespace {

struct Row {
    int32_t status;
    int32_t detail;
    const char *id; // id sent
    int32_t sentStatus;
    const char *text;
};

const char *const CALLER = "alice";

template <size_t N>
void expectRows(void (*encode)(const char *, int32_t, int32_t, VlSigArgs *), const Row (&rows)[N])
{
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.status << "," << r.detail);
        VlSigArgs a;
        encode(CALLER, r.status, r.detail, &a);
        EXPECT_STREQ(a.id, r.id);
        EXPECT_EQ(a.status, r.sentStatus);
        EXPECT_STREQ(a.text, r.text);
    }
}

TEST(EnrollStatusEncoding, EveryRow)
{
    const Row rows[] = {
        {0, 0, CALLER, 0, ""},
        {0, 77, CALLER, 0, ""},
        {1, 4, CALLER, 1, "{subcode:4}"},
        {1, 2, CALLER, 1, "{subcode:2}"},
        {1, 3, CALLER, 1, "{subcode:3}"},
        {1, 0, CALLER, 1, "{subcode:3}"},
        {1, 7, CALLER, 1, "{subcode:3}"},
        {2, 2, CALLER, 2, "{progress:20}"},
        {2, 9, CALLER, 2, "{progress:90}"},
        {2, 10, CALLER, 2, "{progress:100}"},
        {2, 12, CALLER, 2, "{progress:100}"},
        {2, 0, CALLER, 2, "{progress:0}"},
        {2, -3, CALLER, 2, "{progress:-30}"},
        {3, 4, CALLER, 3, "{subcode:4}"},
        {3, 0, CALLER, 3, "{subcode:7}"},
        {4, 0, CALLER, 4, ""},
        {5, 1, CALLER, 4, ""},
        {-1, 0, CALLER, 4, ""},
        {INT_MIN, 0, CALLER, 4, ""},
    };
    expectRows(vlEncodeEnrollStatus, rows);
}

// The product wraps as 32-bit arithmetic would, without a signed overflow
// (UBSan would stop the test).
TEST(EnrollStatusEncoding, ProgressOfHugeDetails)
{
    VlSigArgs a;
    vlEncodeEnrollStatus(CALLER, 2, INT_MAX, &a);
    EXPECT_STREQ(a.text, "{progress:-10}");
    vlEncodeEnrollStatus(CALLER, 2, INT_MIN, &a);
    EXPECT_STREQ(a.text, "{progress:0}");
}

TEST(VerifyStatusEncoding, EveryRow)
{
    const Row rows[] = {
        {0, 0, CALLER, 0, ""},
        {0, 5, CALLER, 0, ""},
        {1, 1, "", 1, ""},
        {2, 0, "", 2, "{subcode:1}"},
        {3, 0, "", 3, "{subcode:3}"},
        {3, 1, "", 3, "{subcode:5}"},
        {3, 60, "", 3, "{subcode:5}"},
        {3, -5, "", 3, "{subcode:5}"},
        {4, 0, "", 4, ""},
        {9, 0, "", 4, ""},
        {-1, 0, "", 4, ""},
    };
    expectRows(vlEncodeVerifyStatus, rows);
}

TEST(StatusEncoding, NullIdIsSentEmpty)
{
    VlSigArgs a;
    vlEncodeEnrollStatus(nullptr, 0, 0, &a);
    EXPECT_STREQ(a.id, "");
    vlEncodeVerifyStatus(nullptr, 0, 0, &a);
    EXPECT_STREQ(a.id, "");
}

TEST(StatusEmitters, FailWithoutAConnection)
{
    m_conn = nullptr;
    EXPECT_EQ(RES_SUCCESS, -1);
    EXPECT_EQ(RES_FAILED, 0);
    EXPECT_EQ(vlSigEnrollStatus("a", 0, 0), RES_FAILED);
    EXPECT_EQ(vlSigVerifyStatus("a", 0, 0), RES_FAILED);
}

class StatusSignals : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        vlSetStatusDestination("");
        DBusError err;
        dbus_error_init(&err);
        dbus_bus_add_match(client_, "type='signal',interface='com.vorlen.fprint'", &err);
        ASSERT_FALSE(dbus_error_is_set(&err));
    }

    // The next signal of ours the client sees, or null.
    DBusMessage *nextSignal()
    {
        for (int i = 0; i < 40; ++i) {
            dbus_connection_read_write(client_, 50);
            while (DBusMessage *m = dbus_connection_pop_message(client_)) {
                if (dbus_message_is_signal(m, VL_INTERFACE, "EnrollStatus") ||
                    dbus_message_is_signal(m, VL_INTERFACE, "VerifyStatus"))
                    return m;
                dbus_message_unref(m);
            }
        }
        return nullptr;
    }
};

TEST_F(StatusSignals, HeaderAndArguments)
{
    EXPECT_EQ(vlSigEnrollStatus("alice", 2, 9), RES_SUCCESS);
    EXPECT_EQ(vlSigVerifyStatus("alice", 3, -5), RES_SUCCESS);

    struct Expect {
        const char *member;
        const char *id;
        int32_t status;
        const char *text;
    };
    for (const Expect &e :
         {Expect{"EnrollStatus", "alice", 2, "{progress:90}"}, Expect{"VerifyStatus", "", 3, "{subcode:5}"}}) {
        DBusMessage *m = nextSignal();
        ASSERT_NE(m, nullptr);
        EXPECT_STREQ(dbus_message_get_member(m), e.member);
        EXPECT_STREQ(dbus_message_get_path(m), "/com/vorlen");
        EXPECT_EQ(dbus_message_get_destination(m), nullptr);
        EXPECT_STREQ(dbus_message_get_signature(m), "sis");
        const char *id = nullptr;
        const char *text = nullptr;
        int32_t status = -1;
        dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &id, DBUS_TYPE_INT32, &status, DBUS_TYPE_STRING, &text,
                              DBUS_TYPE_INVALID);
        EXPECT_STREQ(id, e.id);
        EXPECT_EQ(status, e.status);
        EXPECT_STREQ(text, e.text);
        dbus_message_unref(m);
    }
}

// A run's results go to the connection that started it, not to every
// listener on the bus.
TEST_F(StatusSignals, AddressedToTheRunsCaller)
{
    const char *me = dbus_bus_get_unique_name(client_);
    vlSetStatusDestination(me);
    EXPECT_EQ(vlSigVerifyStatus("alice", 0, 0), RES_SUCCESS);
    DBusMessage *m = nextSignal();
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(dbus_message_get_destination(m), me);
    dbus_message_unref(m);
    // Not a bus name: sent to nobody rather than to everybody.
    vlSetStatusDestination("not a bus name");
    EXPECT_EQ(vlSigVerifyStatus("alice", 0, 0), RES_FAILED);
}

// A user directory named with bytes that are not UTF-8 must not bring the
// daemon down when a match names it.
TEST_F(StatusSignals, IdThatIsNotUtf8IsNotSent)
{
    EXPECT_EQ(vlSigVerifyStatus("bad\xff", 0, 0), RES_FAILED);
    EXPECT_EQ(vlSigVerifyStatus("good", 0, 0), RES_SUCCESS);
    DBusMessage *m = nextSignal();
    ASSERT_NE(m, nullptr);
    const char *id = nullptr;
    dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &id, DBUS_TYPE_INVALID);
    EXPECT_STREQ(id, "good");
    dbus_message_unref(m);
}

} // namespace

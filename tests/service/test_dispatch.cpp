// Matching, argument parsing, the claim gate and the replies of the daemon's
// own methods, against the engine double.
#include <cstring>
#include <string>

#include "service/vlsig.h"
#include "tests/service/service_test.h"

using Calls = std::vector<std::string>;

namespace {

class Dispatch : public ServiceTest {};

// Each row's parse must agree with its documented signature: no arguments
// is an invalid-arguments error (and no engine call) for every row that
// takes any, and the documented types pass the parser.
TEST_F(Dispatch, EveryRowParsesItsSignature)
{
    for (size_t i = 0; i < vlMethodCount; ++i) {
        const VlMethod &m = vlMethods[i];
        SCOPED_TRACE(m.member);
        m_claimed = 1;
        if (m.signature[0] != '\0') {
            resetEngineDouble();
            Reply bare = call(m.interface, m.member);
            EXPECT_EQ(errorName(bare.get()), INVALID_ARGS);
            EXPECT_TRUE(g_engine.calls.empty());
        }
        DBusMessage *msg = newCall(m.interface, m.member);
        const char *s = "x";
        dbus_bool_t b = FALSE;
        for (const char *t = m.signature; *t != '\0'; ++t) {
            if (*t == 's')
                dbus_message_append_args(msg, DBUS_TYPE_STRING, &s, DBUS_TYPE_INVALID);
            else
                dbus_message_append_args(msg, DBUS_TYPE_BOOLEAN, &b, DBUS_TYPE_INVALID);
        }
        Reply good(roundTrip(msg));
        ASSERT_TRUE(good);
        EXPECT_NE(errorName(good.get()), INVALID_ARGS);
    }
}

TEST_F(Dispatch, GatedCallsBeforeAClaim)
{
    for (const char *member : {"Enroll", "StopEnroll", "Verify", "VerifyUser"}) {
        SCOPED_TRACE(member);
        std::vector<const char *> args;
        if (strcmp(member, "Enroll") == 0 || strcmp(member, "VerifyUser") == 0)
            args = {"root", "thumb"};
        else if (strcmp(member, "Verify") == 0)
            args = {"any"};
        Reply r = method(member, args);
        EXPECT_EQ(errorName(r.get()), FAILED);
        EXPECT_EQ(errorText(r.get()), "not claimed.");
    }
    EXPECT_TRUE(g_engine.calls.empty());
    EXPECT_TRUE(isEmptyReturn(method("StopVerify")));
    EXPECT_EQ(g_engine.calls, Calls{"vlStopVerify"});
}

TEST_F(Dispatch, MalformedArgumentsBeforeTheGate)
{
    Reply r = method("Enroll", {"root"});
    EXPECT_EQ(errorName(r.get()), INVALID_ARGS);
}

TEST_F(Dispatch, ExtraArgumentsAreNotExamined)
{
    m_claimed = 1;
    EXPECT_TRUE(isEmptyReturn(method("Verify", {"any", "extra", "more"})));
    EXPECT_EQ(g_engine.calls, Calls{"vlVerifyFp any"});
}

TEST_F(Dispatch, ClaimOpensTheGate)
{
    EXPECT_TRUE(isEmptyReturn(claim(true)));
    EXPECT_EQ(m_claimed, 1);
    EXPECT_TRUE(isEmptyReturn(method("Enroll", {"root", "thumb"})));
    EXPECT_TRUE(isEmptyReturn(method("Verify", {"any"})));
    EXPECT_TRUE(isEmptyReturn(method("StopEnroll")));
    EXPECT_EQ(g_engine.calls,
              (Calls{"vlStopWorker", "vlOpenDev", "vlEnrollFp root thumb", "vlVerifyFp any", "vlStopEnroll"}));
}

// No name is that long: the call is answered at once, as its member answers
// a name it cannot use, and the engine never sees it.
TEST_F(Dispatch, OversizedNamesAreAnsweredWithoutWork)
{
    m_claimed = 1;
    std::string huge(VL_MAX_NAME_ARG + 1, 'x');
    EXPECT_EQ(errorText(method("Enroll", {"root", huge.c_str()}).get()), "Enroll fail.");
    EXPECT_EQ(errorText(method("RenameFinger", {"root", "a", huge.c_str()}).get()), "RenameFinger fail.");
    EXPECT_EQ(signatureOf(method("ListFingers", {huge.c_str()}).get()), "a{ss}");
    EXPECT_TRUE(isEmptyReturn(method("DeleteAllFingers", {huge.c_str()})));
    EXPECT_TRUE(g_engine.calls.empty());
    std::string longest(VL_MAX_NAME_ARG, 'x');
    EXPECT_TRUE(isEmptyReturn(method("Verify", {longest.c_str()})));
    EXPECT_EQ(g_engine.calls, Calls{"vlVerifyFp " + longest});
}

TEST_F(Dispatch, FailedOpenLeavesTheClaimAsItWas)
{
    g_engine.openResult = -2;
    Reply r = claim(true);
    EXPECT_EQ(errorText(r.get()), "OpenDevice fail.");
    EXPECT_EQ(m_claimed, 0);

    g_engine.openResult = 0;
    claim(true);
    g_engine.openResult = -1;
    EXPECT_EQ(errorText(claim(true).get()), "OpenDevice fail.");
    EXPECT_EQ(m_claimed, 1);
}

TEST_F(Dispatch, ReleaseClosesTheGate)
{
    claim(true);
    EXPECT_TRUE(isEmptyReturn(claim(false)));
    EXPECT_EQ(m_claimed, 0);
    EXPECT_EQ(errorText(method("Verify", {"any"}).get()), "not claimed.");
    // A release without a claim is fine too.
    EXPECT_TRUE(isEmptyReturn(claim(false)));
}

TEST_F(Dispatch, EngineFailuresBecomeTheirMessages)
{
    m_claimed = 1;
    g_engine.enrollResult = -2;
    g_engine.verifyResult = -1;
    g_engine.delResult = -1;
    g_engine.renameResult = -1;
    g_engine.delAllResult = -100;
    EXPECT_EQ(errorText(method("Enroll", {"u", "f"}).get()), "Enroll fail.");
    EXPECT_EQ(errorText(method("Verify", {"any"}).get()), "Verify fail.");
    EXPECT_EQ(errorText(method("VerifyUser", {"u", "any"}).get()), "VerifyUser fail.");
    EXPECT_EQ(errorText(method("DeleteFinger", {"u", "f"}).get()), "DeleteFinger fail.");
    EXPECT_EQ(errorText(method("RenameFinger", {"u", "f", "g"}).get()), "RenameFinger fail.");
    EXPECT_TRUE(isEmptyReturn(method("DeleteAllFingers", {"u"})));
}

TEST_F(Dispatch, StoreCallsPassTheirArguments)
{
    method("DeleteFinger", {"alice", "thumb"});
    method("RenameFinger", {"alice", "thumb", "index"});
    method("DeleteAllFingers", {"bob"});
    EXPECT_EQ(g_engine.calls, (Calls{"vlDelFp alice thumb", "vlRenameFp alice thumb index", "vlDelAllFp bob"}));
}

// An enrollment refused by the engine is announced by a signal that reaches
// the client before the empty reply.
TEST_F(Dispatch, EnrollRefusalSignalPrecedesTheReply)
{
    DBusError err;
    dbus_error_init(&err);
    dbus_bus_add_match(client_, "type='signal',interface='com.vorlen.fprint'", &err);
    ASSERT_FALSE(dbus_error_is_set(&err));
    m_claimed = 1;
    g_engine.onEnroll = [] { vlSigEnrollStatus("root", 1, 2); };
    EXPECT_TRUE(isEmptyReturn(method("Enroll", {"root", "thumb"})));
    ASSERT_EQ(arrivals_, (std::vector<int>{DBUS_MESSAGE_TYPE_SIGNAL, DBUS_MESSAGE_TYPE_METHOD_RETURN}));
    EXPECT_STREQ(dbus_message_get_member(signals_[0]), "EnrollStatus");
}

TEST_F(Dispatch, AnyObjectPathAndNoInterfaceHeader)
{
    Reply atRoot = Reply(roundTrip([&] {
        DBusMessage *m = newCall(VL_INTERFACE, "StopVerify", "/");
        return m;
    }()));
    EXPECT_TRUE(isEmptyReturn(atRoot));
    EXPECT_TRUE(isEmptyReturn(call(nullptr, "StopVerify", {}, "/else/where")));
    // Without an interface, Get is found by its member too.
    Reply get = call(nullptr, "Get", {"", "Type"});
    EXPECT_EQ(signatureOf(get.get()), "i");
}

TEST_F(Dispatch, OtherMembersAndInterfacesGetNoReply)
{
    EXPECT_FALSE(call("org.freedesktop.DBus.Introspectable", "Introspect"));
    EXPECT_FALSE(dispatched_);
    EXPECT_FALSE(call(VL_INTERFACE, "Get", {"", "Type"}));
    EXPECT_FALSE(call(VL_PROPERTIES_INTERFACE, "Claim", {"u"}));
    EXPECT_FALSE(call(VL_INTERFACE, "Set", {"a", "b"}));
    EXPECT_TRUE(g_engine.calls.empty());
}

TEST_F(Dispatch, SignalsAreNeverDispatched)
{
    DBusMessage *sig = dbus_message_new_signal("/com/vorlen", VL_INTERFACE, "Claim");
    DBusError err;
    dbus_error_init(&err);
    EXPECT_EQ(vlFindMethod(sig), nullptr);
    EXPECT_FALSE(vlDispatch(daemon_, sig, &err));
    dbus_message_unref(sig);
}

} // namespace

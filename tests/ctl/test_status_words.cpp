// The client's words for every status signal and error the daemon and the
// bus can send: a person never sees a raw code or an empty message.
#include <gtest/gtest.h>

#include "client/client.h"

using vlclient::Error;
using vlclient::Status;

namespace {

Status signal(bool enroll, int status, const char *text, const char *id = "")
{
    Status s;
    s.enroll = enroll;
    s.id = id;
    s.status = status;
    s.text = text;
    vlclient::decodeText(s);
    return s;
}

Error error(const char *name, const char *message) { return Error{name, message}; }

bool has(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(StatusWords, DecodesOnlyWellFormedCodes)
{
    EXPECT_EQ(signal(true, 2, "{progress:40}").progress, 40);
    EXPECT_EQ(signal(true, 1, "{subcode:2}").subcode, 2);
    // A finger's name runs to the last brace, whatever it holds.
    EXPECT_EQ(signal(false, 0, "{finger:a}b}").finger, "a}b");
    for (const char *bad :
         {"{progress:40", "progress:40}", "{progress:}", "{subcode:x}", "{finger:}", "{finger:x", ""}) {
        Status s = signal(true, 2, bad);
        EXPECT_EQ(s.progress, -1) << bad;
        EXPECT_EQ(s.subcode, -1) << bad;
        EXPECT_EQ(s.finger, "") << bad;
    }
}

TEST(StatusWords, EveryEnrollStatusHasItsOwnWords)
{
    EXPECT_EQ(vlclient::describe(signal(true, 0, "")), "finger enrolled");
    EXPECT_TRUE(has(vlclient::describe(signal(true, 1, "{subcode:2}")), "finger already enrolled"));
    EXPECT_TRUE(has(vlclient::describe(signal(true, 1, "{subcode:4}")), "too many fingers"));
    EXPECT_TRUE(has(vlclient::describe(signal(true, 1, "{subcode:3}")), "stopped"));
    EXPECT_TRUE(has(vlclient::describe(signal(true, 2, "{progress:70}")), "70%"));
    EXPECT_TRUE(has(vlclient::describe(signal(true, 3, "{subcode:4}")), "too many fingers"));
    EXPECT_TRUE(has(vlclient::describe(signal(true, 3, "{subcode:7}")), "failed"));
    EXPECT_TRUE(has(vlclient::describe(signal(true, 4, "")), "sensor error"));
    EXPECT_TRUE(signal(true, 2, "{progress:20}").isStep());
    EXPECT_FALSE(signal(true, 3, "{subcode:7}").isStep());
}

TEST(StatusWords, EveryVerifyStatusHasItsOwnWords)
{
    EXPECT_EQ(vlclient::describe(signal(false, 0, "", "alice")), "finger identified as alice");
    EXPECT_EQ(vlclient::describe(signal(false, 0, "{finger:thumb}", "alice")), "finger identified as alice's thumb");
    EXPECT_TRUE(has(vlclient::describe(signal(false, 1, "")), "no match"));
    EXPECT_TRUE(has(vlclient::describe(signal(false, 2, "{subcode:1}")), "no finger enrolled"));
    EXPECT_EQ(vlclient::describe(signal(false, 3, "{subcode:5}")), "no match, try again");
    EXPECT_TRUE(has(vlclient::describe(signal(false, 3, "{subcode:3}")), "try again"));
    EXPECT_TRUE(has(vlclient::describe(signal(false, 4, "")), "sensor error"));
    EXPECT_TRUE(signal(false, 3, "{subcode:3}").isStep());
    EXPECT_FALSE(signal(false, 1, "").isStep());
}

TEST(StatusWords, DaemonRefusalsAreExplained)
{
    const char *FAILED = "org.freedesktop.DBus.Error.Failed";
    EXPECT_TRUE(has(error(FAILED, "not claimed.").describe(), "not claimed"));
    EXPECT_TRUE(has(error(FAILED, "OpenDevice fail.").describe(), "plugged in"));
    for (const char *msg : {"Enroll fail.", "Verify fail.", "VerifyUser fail.", "DeleteFinger fail.",
                            "RenameFinger fail.", "ListFingers fail."}) {
        std::string words = error(FAILED, msg).describe();
        EXPECT_FALSE(has(words, "fail.")) << msg << ": " << words;
    }
    EXPECT_EQ(error(FAILED, "brand new.").describe(), "the daemon refused: brand new.");
    EXPECT_TRUE(error(FAILED, "x").refusedByDaemon());
}

TEST(StatusWords, BusErrorsAreExplained)
{
    EXPECT_EQ(error("org.freedesktop.DBus.Error.ServiceUnknown", "...").describe(),
              "the fingerprint daemon is not running");
    EXPECT_TRUE(has(error("org.freedesktop.DBus.Error.NoReply", "...").describe(), "did not answer in time"));
    EXPECT_TRUE(has(error("org.freedesktop.DBus.Error.AccessDenied", "...").describe(), "need root"));
    EXPECT_TRUE(has(error("org.freedesktop.DBus.Error.FileNotFound", "...").describe(), "system bus"));
    EXPECT_TRUE(has(error("org.freedesktop.DBus.Error.Spawn.ChildExited", "boom").describe(), "boom"));
    EXPECT_EQ(error("org.example.Odd", "why").describe(), "org.example.Odd: why");
    EXPECT_FALSE(error("org.freedesktop.DBus.Error.NoReply", "").refusedByDaemon());
}

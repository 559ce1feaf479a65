// The uptime timer, on a clock the test sets.
#include <gtest/gtest.h>

#include "engine/device.h"
#include "tests/usb/log_capture.h"

namespace {

long s_uptime = 0;
bool s_fail = false;

int fakeSysinfo(struct sysinfo *info)
{
    if (s_fail)
        return -1;
    info->uptime = s_uptime;
    return 0;
}

class UptimeTimer : public ::testing::Test {
protected:
    void SetUp() override
    {
        vlReadSysinfo = fakeSysinfo;
        s_fail = false;
        m_getDevTime = 0;
        clearLoggedLines();
    }
    void TearDown() override { vlReadSysinfo = sysinfo; }
};

} // namespace

TEST_F(UptimeTimer, ExpiresThreeHundredSecondsAfterTheStamp)
{
    s_uptime = 1000;
    EXPECT_EQ(setGetDevtimer(), 1);
    EXPECT_EQ(m_getDevTime, 1000);
    s_uptime = 1299;
    EXPECT_EQ(isGetDevExpired(), 0);
    s_uptime = 1300;
    EXPECT_EQ(isGetDevExpired(), 1);
}

TEST_F(UptimeTimer, WithoutAStampItExpiresOnceTheMachineHasBeenUpLongEnough)
{
    s_uptime = 299;
    EXPECT_EQ(isGetDevExpired(), 0);
    s_uptime = 300;
    EXPECT_EQ(isGetDevExpired(), 1);
}

TEST_F(UptimeTimer, UnreadableUptimeIsLoggedAndCountsAsExpired)
{
    s_fail = true;
    long seconds = 42;
    EXPECT_EQ(getCurTm(&seconds), 0);
    EXPECT_EQ(seconds, 42);
    EXPECT_TRUE(wasLogged("sysinfo error"));
    EXPECT_EQ(isGetDevExpired(), 1);
}

// The control commands, against a testbed in this process.
#include <gtest/gtest.h>

#include "sim/sim_control.h"
#include "tests/usb/sim_fixture.h"

using SimControl = SimBus;

TEST_F(SimControl, StateReflectsCommandsAndBadCommandsAreRefused)
{
    addSensor({1});
    auto &tb = testbed();
    EXPECT_EQ(sim::runControl(tb, "state"), "ok plugged=1 claimed=0 driver=0 capturing=0 finger=0 frames=0");
    EXPECT_EQ(sim::runControl(tb, "queue 0102"), "ok");
    EXPECT_EQ(sim::runControl(tb, "delay 10"), "ok");
    EXPECT_EQ(sim::runControl(tb, "fault stall"), "ok");
    EXPECT_EQ(sim::runControl(tb, "unplug"), "ok");
    EXPECT_EQ(sim::runControl(tb, "state").substr(0, 12), "ok plugged=0");
    EXPECT_EQ(sim::runControl(tb, "replug"), "ok");
    EXPECT_EQ(sim::runControl(tb, "commands"), "ok 0");

    EXPECT_EQ(sim::runControl(tb, "bogus").substr(0, 3), "err");
    EXPECT_EQ(sim::runControl(tb, "fault sometimes").substr(0, 3), "err");
    EXPECT_EQ(sim::runControl(tb, "delay soon").substr(0, 3), "err");
    EXPECT_EQ(sim::runControl(tb, "queue 123").substr(0, 3), "err");
    EXPECT_EQ(sim::runControl(tb, "place").substr(0, 3), "err");
    EXPECT_EQ(sim::runControl(tb, "place /nonexistent/file.pgm").substr(0, 3), "err");
}

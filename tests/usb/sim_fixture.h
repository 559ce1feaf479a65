// Tests against the emulated bus, in process. main() creates the testbed
// before anything else runs; every test adds the devices it needs and the
// fixture takes them away again.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim_testbed.h"
#include "tests/usb/log_capture.h"

sim::Testbed &testbed();

// Polls cond until it holds or the deadline passes; libusb learns about
// plugged and unplugged devices asynchronously.
bool eventually(const std::function<bool()> &cond, std::chrono::milliseconds limit = std::chrono::milliseconds(10000),
                std::chrono::microseconds step = std::chrono::microseconds(20000));

// The number of sensors the enumeration reports.
int sensorsListed();

class SimBus : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Adds a device and waits until the enumeration shows the expected count.
    int addSensor(std::vector<int> ports, bool kernelDriver = false);
    int addOther(std::vector<int> ports);
    void waitListed(int sensors);
    sim::SensorModel &model(int device = 0) { return testbed().model(device); }
};

// Standard output of a call, for the lines the transfer layer prints.
std::string stdoutOf(const std::function<void()> &call);

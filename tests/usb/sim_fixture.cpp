#include "tests/usb/sim_fixture.h"

#include <thread>

#include "usb/vlUsb.h"

namespace {
sim::Testbed *s_testbed = nullptr;
}

sim::Testbed &testbed() { return *s_testbed; }

bool eventually(const std::function<bool()> &cond, std::chrono::milliseconds limit, std::chrono::microseconds step)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

int sensorsListed()
{
    char list[SS_DEV_LIST_SIZE] = {};
    return ssUsblst(list, sizeof list, 0x2541, 0x2547);
}

void SimBus::SetUp() { clearLoggedLines(); }

void SimBus::TearDown()
{
    ssUsbClose();
    testbed().reset();
    ASSERT_TRUE(eventually([] { return sensorsListed() == 0; })) << "devices left behind";
}

int SimBus::addSensor(std::vector<int> ports, bool kernelDriver)
{
    sim::DeviceDesc desc;
    desc.ports = std::move(ports);
    desc.kernelDriver = kernelDriver;
    return testbed().addDevice(desc);
}

int SimBus::addOther(std::vector<int> ports)
{
    sim::DeviceDesc desc;
    desc.ports = std::move(ports);
    desc.vendor = 0x046d;
    desc.product = 0xc31c;
    return testbed().addDevice(desc);
}

void SimBus::waitListed(int sensors)
{
    ASSERT_TRUE(eventually([&] { return sensorsListed() == sensors; }))
        << "enumeration never showed " << sensors << " sensor(s)";
}

std::string stdoutOf(const std::function<void()> &call)
{
    ::testing::internal::CaptureStdout();
    call();
    return ::testing::internal::GetCapturedStdout();
}

int main(int argc, char **argv)
{
    // The testbed sets UMOCKDEV_DIR, so it comes before any other thread.
    static sim::Testbed bed(std::vector<sim::DeviceDesc>{});
    s_testbed = &bed;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

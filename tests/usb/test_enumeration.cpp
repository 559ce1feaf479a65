// Discovery: device IDs from port paths, counting, and the bounded list.
#include <algorithm>
#include <cstring>

#include "engine/vorl2547_drv.h"
#include "tests/usb/sim_fixture.h"
#include "usb/vlUsb.h"

namespace {

std::vector<std::string> entries(const char *list, int size)
{
    std::vector<std::string> out;
    for (int pos = 0; pos < size && list[pos];) {
        out.emplace_back(list + pos);
        pos += static_cast<int>(out.back().size()) + 1;
    }
    return out;
}

} // namespace

TEST(DeviceId, PortPathsBecomeTwoUpperCaseHexDigitsEach)
{
    char id[SS_DEV_ID_SIZE];
    const uint8_t one[] = {1};
    ssDevIdString(one, 1, id, sizeof id);
    EXPECT_STREQ(id, "Vorlen.Usb.0x2541.0x2547.01");
    const uint8_t hubs[] = {1, 4, 2};
    ssDevIdString(hubs, 3, id, sizeof id);
    EXPECT_STREQ(id, "Vorlen.Usb.0x2541.0x2547.01.04.02");
    const uint8_t ten[] = {10};
    ssDevIdString(ten, 1, id, sizeof id);
    EXPECT_STREQ(id, "Vorlen.Usb.0x2541.0x2547.0A");
    ssDevIdString(nullptr, 0, id, sizeof id);
    EXPECT_STREQ(id, "Vorlen.Usb.0x2541.0x2547");
}

TEST(DeviceId, LongestIdFitsAndSmallBuffersAreNotOverrun)
{
    char id[SS_DEV_ID_SIZE];
    const uint8_t eight[] = {255, 255, 255, 255, 255, 255, 255, 255};
    EXPECT_EQ(ssDevIdString(eight, 8, id, sizeof id), 48);
    char small[10];
    memset(small, 'x', sizeof small);
    ssDevIdString(eight, 8, small, 8);
    EXPECT_EQ(small[7], '\0');
    EXPECT_EQ(small[8], 'x');
}

using Enumeration = SimBus;

TEST_F(Enumeration, SensorOnRootPortOneIsListedWithItsId)
{
    addSensor({1});
    waitListed(1);
    char list[SS_DEV_LIST_SIZE] = {};
    EXPECT_EQ(ssUsblst(list, sizeof list, 0x2541, 0x2547), 1);
    EXPECT_EQ(entries(list, sizeof list), std::vector<std::string>{"Vorlen.Usb.0x2541.0x2547.01"});
    EXPECT_EQ(ssUsbFind("Vorlen.Usb.0x2541.0x2547.01"), 0);
    EXPECT_EQ(ssUsbFind("Vorlen.Usb.0x2541.0x2547.02"), 1);
}

TEST_F(Enumeration, SensorBehindHubsCarriesTheWholePortPath)
{
    addSensor({1, 4, 2});
    waitListed(1);
    char list[SS_DEV_LIST_SIZE] = {};
    ssUsblst(list, sizeof list, 0, 0);
    EXPECT_STREQ(list, "Vorlen.Usb.0x2541.0x2547.01.04.02");
}

TEST_F(Enumeration, PortTenIsWrittenAsHex)
{
    addSensor({10});
    waitListed(1);
    char list[SS_DEV_LIST_SIZE] = {};
    ssUsblst(list, sizeof list, 0, 0);
    EXPECT_STREQ(list, "Vorlen.Usb.0x2541.0x2547.0A");
}

TEST_F(Enumeration, CountDoesNotDependOnPositionInTheList)
{
    for (int sensorPort = 1; sensorPort <= 3; ++sensorPort) {
        for (int port = 1; port <= 3; ++port) {
            if (port == sensorPort)
                addSensor({port});
            else
                addOther({port});
        }
        waitListed(1);
        int count = -1;
        EXPECT_EQ(vlLstDev(&count), 0);
        EXPECT_EQ(count, 1) << "sensor on port " << sensorPort;
        testbed().reset();
        waitListed(0);
    }
}

TEST_F(Enumeration, TwoSensorsCountTwoWithTwoEntries)
{
    addSensor({1});
    addSensor({2, 3});
    waitListed(2);
    char list[SS_DEV_LIST_SIZE] = {};
    EXPECT_EQ(ssUsblst(list, sizeof list, 0, 0), 2);
    auto ids = entries(list, sizeof list);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"Vorlen.Usb.0x2541.0x2547.01", "Vorlen.Usb.0x2541.0x2547.02.03"}));
}

// The list is the caller's 128 bytes; sensors that do not fit are counted
// but not written.
TEST_F(Enumeration, ListStaysInsideTheCallersBufferAndCountsEverySensor)
{
    for (int port = 1; port <= 6; ++port)
        addSensor({port});
    waitListed(6);
    char buf[SS_DEV_LIST_SIZE + 64];
    memset(buf, 0x5A, sizeof buf);
    EXPECT_EQ(ssUsblst(buf, SS_DEV_LIST_SIZE, 0, 0), 6);
    for (size_t i = SS_DEV_LIST_SIZE; i < sizeof buf; ++i)
        ASSERT_EQ(buf[i], 0x5A) << "byte " << i << " written past the list";
    const auto ids = entries(buf, SS_DEV_LIST_SIZE);
    EXPECT_EQ(ids.size(), 4u);
    int count = 0;
    EXPECT_EQ(vlLstDev(&count), 0);
    EXPECT_EQ(count, 6);
}

TEST_F(Enumeration, NothingPluggedCountsZeroAndOpenFailsWithItsLogLine)
{
    int count = -1;
    EXPECT_EQ(vlLstDev(&count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(vlOpenDev(), -2);
    EXPECT_TRUE(wasLogged("Cannot open device\n"));
    EXPECT_EQ(m_dev_handle.load(), nullptr);
}

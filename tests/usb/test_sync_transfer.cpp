// Blocking transfers in 64-byte packets.
#include <numeric>

#include "engine/vorl2547_drv.h"
#include "tests/usb/sim_fixture.h"
#include "usb/vlUsb.h"

namespace {

std::vector<uint8_t> counting(size_t n)
{
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

class SyncTransfer : public SimBus {
protected:
    void SetUp() override
    {
        SimBus::SetUp();
        addSensor({1});
        waitListed(1);
        ASSERT_EQ(vlOpenDev(), 0);
    }
    std::vector<size_t> writeSizes()
    {
        std::vector<size_t> sizes;
        for (const auto &w : model().writes())
            sizes.push_back(w.size());
        return sizes;
    }
};

} // namespace

TEST_F(SyncTransfer, SendSplitsIntoFullPacketsAndAShortTail)
{
    const auto data = counting(130);
    EXPECT_EQ(ssUsbTxd(nullptr, data.data(), 130), 0);
    EXPECT_EQ(writeSizes(), (std::vector<size_t>{64, 64, 2}));
    const auto writes = model().writes();
    EXPECT_EQ(writes[2], std::vector<uint8_t>({128, 129}));

    model().clearWrites();
    EXPECT_EQ(ssUsbTxd(nullptr, data.data(), 128), 0);
    EXPECT_EQ(writeSizes(), (std::vector<size_t>{64, 64}));

    model().clearWrites();
    EXPECT_EQ(ssUsbTxd(nullptr, data.data(), 0), 0);
    EXPECT_TRUE(model().writes().empty());
}

TEST_F(SyncTransfer, ReceiveKeepsTheExpectedBytesAndDropsTheRest)
{
    model().queueBytes(counting(128));
    std::vector<uint8_t> buf(128, 0xEE);
    int len = 100;
    EXPECT_EQ(ssUsbRxd(nullptr, buf.data(), &len, 0), 0);
    EXPECT_EQ(len, 100);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 100, counting(100).begin()));
    EXPECT_EQ(buf[100], 0xEE);
}

TEST_F(SyncTransfer, ReceiveWithoutLengthReadsAWholeFrameAndNullBufferDiscards)
{
    model().queueBytes(std::vector<uint8_t>(13824, 7));
    std::vector<uint8_t> buf(13824);
    EXPECT_EQ(ssUsbRxd(nullptr, buf.data(), nullptr, 2), 0);
    EXPECT_EQ(buf.back(), 7);

    model().queueBytes(counting(64));
    int len = 64;
    EXPECT_EQ(ssUsbRxd(nullptr, nullptr, &len, 2), 0);
    EXPECT_EQ(len, 64);
}

TEST_F(SyncTransfer, SilentDeviceFailsTheReceiveAfterTheTimeout)
{
    int len = 10;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ssUsbRxd(nullptr, nullptr, &len, 1), -2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(len, 10);
    EXPECT_TRUE(wasLogged("failed to read \n"));
}

TEST_F(SyncTransfer, SendThenReceiveAndNothingWithoutADevice)
{
    model().queueBytes(counting(8));
    const uint8_t cmd[8] = {0xEA, 3, 0, 0, 0, 0, 3, 0xEA};
    uint8_t reply[8] = {};
    int len = 8;
    EXPECT_EQ(ssUsbTxRx(nullptr, cmd, 8, reply, &len), 0);
    EXPECT_EQ(reply[7], 7);
    vlCloseDev();
    EXPECT_EQ(ssUsbTxd(nullptr, cmd, 8), -1);
    EXPECT_EQ(ssUsbRxd(nullptr, reply, &len, 1), -1);
    EXPECT_EQ(ssUsbTxRx(nullptr, cmd, 8, reply, &len), -1);
}

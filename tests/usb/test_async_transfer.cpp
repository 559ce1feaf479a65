// Asynchronous transfers: results, printed progress, cancellation, and that
// a cancelled record never leaks into a later transfer.
#include <atomic>
#include <future>
#include <random>
#include <thread>

#include "engine/vorl2547_drv.h"
#include "protocol/sensor_frames.h"
#include "tests/usb/sim_fixture.h"
#include "usb/vlUsb.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> patternFrame()
{
    std::vector<uint8_t> f(VL_FRAME_SIZE);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = static_cast<uint8_t>(i * 7 + 3);
    return f;
}

class AsyncTransfer : public SimBus {
protected:
    void SetUp() override
    {
        SimBus::SetUp();
        m_dev = addSensor({1});
        waitListed(1);
        ASSERT_EQ(vlOpenDev(), 0);
    }
    int beginCapture() { return ssUsbTxAsyn(nullptr, m_capture_beg_cmd, VL_CMD_SIZE); }
    int receive(std::vector<uint8_t> &buf, int seconds = 3)
    {
        buf.assign(VL_FRAME_SIZE, 0);
        const int len = VL_FRAME_SIZE;
        return ssUsbRxdAsyn(nullptr, buf.data(), &len, seconds);
    }
    // Runs a receive on another thread and returns once it is in flight.
    std::future<int> pendingReceive(std::vector<uint8_t> &buf, int seconds = 3)
    {
        auto f = std::async(std::launch::async, [this, &buf, seconds] { return receive(buf, seconds); });
        EXPECT_TRUE(eventually([] { return ssUsbRxPending(); }, 5000ms, 200us));
        return f;
    }
    int m_dev = 0;
};

} // namespace

TEST_F(AsyncTransfer, CommandFrameIsSentWithItsProgressLines)
{
    int r = -99;
    const std::string out = stdoutOf([&] { r = beginCapture(); });
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("poll thread running\n"), std::string::npos) << out;
    EXPECT_NE(out.find("tx_cb success\n"), std::string::npos) << out;
    EXPECT_NE(out.find("poll thread shutting down 100\n"), std::string::npos) << out;
    const auto writes = model().writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], std::vector<uint8_t>(m_capture_beg_cmd, m_capture_beg_cmd + 8));
}

TEST_F(AsyncTransfer, FrameArrivesWholeWhenAFingerIsPlaced)
{
    model().placeFrame(patternFrame());
    ASSERT_EQ(beginCapture(), 0);
    std::vector<uint8_t> buf;
    int r = -99;
    const std::string out = stdoutOf([&] { r = receive(buf); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(buf, patternFrame());
    EXPECT_NE(out.find("RX complete len=13824, actuallen=13824\n"), std::string::npos) << out;
}

TEST_F(AsyncTransfer, NoFingerTimesOutAfterTheReceiveTimeout)
{
    ASSERT_EQ(beginCapture(), 0);
    std::vector<uint8_t> buf;
    int r = -99;
    const auto start = Clock::now();
    const std::string out = stdoutOf([&] { r = receive(buf, 3); });
    const auto took = Clock::now() - start;
    EXPECT_EQ(r, 7);
    EXPECT_GE(took, 2900ms);
    EXPECT_LT(took, 8000ms);
    EXPECT_NE(out.find("rx cb time out\n"), std::string::npos) << out;
}

TEST_F(AsyncTransfer, CancelEndsAWaitingReceiveWithEightPromptly)
{
    ASSERT_EQ(beginCapture(), 0);
    std::vector<uint8_t> buf;
    auto result = pendingReceive(buf, 30);
    const auto start = Clock::now();
    EXPECT_EQ(ssCancelRx(), 0);
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(result.get(), 8);
    EXPECT_LT(Clock::now() - start, 2000ms);
}

TEST_F(AsyncTransfer, CancelWithNothingPendingDoesNotDisturbTheNextTransfer)
{
    EXPECT_EQ(ssCancelRx(), 0);
    model().placeFrame(patternFrame());
    ASSERT_EQ(beginCapture(), 0);
    std::vector<uint8_t> buf;
    EXPECT_EQ(receive(buf), 0);
}

TEST_F(AsyncTransfer, ShortFrameStillCountsAsReceived)
{
    model().placeFrame(patternFrame());
    model().failNextCapture(sim::Fault::ShortFrame);
    ASSERT_EQ(beginCapture(), 0);
    std::vector<uint8_t> buf;
    int r = -99;
    const std::string out = stdoutOf([&] { r = receive(buf); });
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("actuallen=6912"), std::string::npos) << out;
}

TEST_F(AsyncTransfer, StallAndBusErrorFailTheReceive)
{
    std::vector<uint8_t> buf;
    model().placeFrame(patternFrame());
    model().failNextCapture(sim::Fault::Stall);
    ASSERT_EQ(beginCapture(), 0);
    EXPECT_EQ(receive(buf), -20);
    model().failNextCapture(sim::Fault::IoError);
    ASSERT_EQ(beginCapture(), 0);
    EXPECT_EQ(receive(buf), -20);
    ASSERT_EQ(beginCapture(), 0);
    EXPECT_EQ(receive(buf), 0) << "a fault is for one capture only";
}

TEST_F(AsyncTransfer, SendInterruptedByACancelFails)
{
    model().holdWrites(true);
    auto send = std::async(std::launch::async, [this] { return beginCapture(); });
    std::this_thread::sleep_for(200ms);
    ssCancelRx();
    ASSERT_EQ(send.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(send.get(), -20);
    model().holdWrites(false);
    EXPECT_EQ(beginCapture(), 0);
}

TEST_F(AsyncTransfer, WithoutADeviceNothingStartsAndMinusOneComesAtOnce)
{
    vlCloseDev();
    std::vector<uint8_t> buf;
    int tx = 0, rx = 0;
    const auto start = Clock::now();
    const std::string out = stdoutOf([&] {
        tx = beginCapture();
        rx = receive(buf);
    });
    EXPECT_EQ(tx, -1);
    EXPECT_EQ(rx, -1);
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_EQ(out.find("poll thread running"), std::string::npos);
}

TEST_F(AsyncTransfer, ZeroLengthIsRefusedWithoutWaiting)
{
    std::vector<uint8_t> buf(16);
    int zero = 0;
    const auto start = Clock::now();
    const std::string out = stdoutOf([&] {
        EXPECT_NE(ssUsbTxAsyn(nullptr, buf.data(), 0), 0);
        EXPECT_NE(ssUsbRxdAsyn(nullptr, buf.data(), &zero, 3), 0);
    });
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_EQ(out.find("poll thread running"), std::string::npos);
    EXPECT_TRUE(model().writes().empty());
}

// The stop path: the main thread cancels the worker's receive and sends the
// end-capture frame while that receive may still be inside the layer.
TEST_F(AsyncTransfer, EndCaptureSendAndCancelledReceiveBothComplete)
{
    ASSERT_EQ(beginCapture(), 0);
    std::vector<uint8_t> buf;
    auto worker = pendingReceive(buf, 3);
    ssCancelRx();
    const int sent = ssUsbTxAsyn(nullptr, m_capture_end_cmd, VL_CMD_SIZE);
    ASSERT_EQ(worker.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(worker.get(), 8);
    EXPECT_EQ(sent, 0);
    const auto writes = model().writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), std::vector<uint8_t>(m_capture_end_cmd, m_capture_end_cmd + 8));
    EXPECT_FALSE(model().capturing());
}

// Each cancelled record must be collected and freed exactly once, and its
// completion must not land in the next transfer (which would end at once
// with a stray 8). Run under AddressSanitizer this also proves no leak and
// no double free.
TEST_F(AsyncTransfer, ThousandReceivesAndCancelsLeaveNothingBehind)
{
    std::mt19937 rng(2547);
    std::uniform_int_distribution<int> jitterUs(0, 1500);
    ASSERT_EQ(beginCapture(), 0);
    std::vector<uint8_t> buf;
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 1000; ++i) {
        auto rx = pendingReceive(buf, 20);
        std::this_thread::sleep_for(std::chrono::microseconds(jitterUs(rng)));
        ssCancelRx();
        ASSERT_EQ(rx.wait_for(10s), std::future_status::ready) << "iteration " << i;
        ASSERT_EQ(rx.get(), 8) << "iteration " << i;
    }
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(ssUsbRxPending());

    // The next capture behaves normally: no early stray code.
    model().placeFrame(patternFrame());
    ASSERT_EQ(beginCapture(), 0);
    EXPECT_EQ(receive(buf), 0);
    EXPECT_EQ(buf, patternFrame());
    model().lift();
    ASSERT_EQ(beginCapture(), 0);
    const auto start = Clock::now();
    EXPECT_EQ(receive(buf, 1), 7);
    EXPECT_GE(Clock::now() - start, 900ms);
}

TEST_F(AsyncTransfer, UnplugDuringAReceiveFailsItAndReplugAllowsANewClaim)
{
    ASSERT_EQ(beginCapture(), 0);
    std::vector<uint8_t> buf;
    auto rx = pendingReceive(buf, 30);
    testbed().unplug(m_dev);
    ASSERT_EQ(rx.wait_for(10s), std::future_status::ready);
    EXPECT_LT(rx.get(), 0);
    EXPECT_LT(beginCapture(), 0);
    EXPECT_EQ(vlCloseDev(), 0);
    waitListed(0);
    testbed().replug(m_dev);
    waitListed(1);
    ASSERT_EQ(vlOpenDev(), 0);
    model().placeFrame(patternFrame());
    ASSERT_EQ(beginCapture(), 0);
    EXPECT_EQ(receive(buf), 0);
}

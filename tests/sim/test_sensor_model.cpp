// The emulated sensor's capture protocol, without USB.
#include <gtest/gtest.h>

#include <thread>

#include "protocol/sensor_frames.h"
#include "sim/sensor_model.h"

namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> filled(uint8_t v) { return std::vector<uint8_t>(VL_FRAME_SIZE, v); }

void command(sim::SensorModel &m, const uint8_t *frame) { m.hostWrote(frame, VL_CMD_SIZE); }

} // namespace

TEST(SensorModel, SendsNothingWithoutABeginCaptureOrWithoutAFinger)
{
    sim::SensorModel m;
    m.placeFrame(filled(1));
    EXPECT_FALSE(m.pollIn(VL_FRAME_SIZE).ready) << "no capture was asked for";
    m.lift();
    command(m, m_capture_beg_cmd);
    EXPECT_FALSE(m.pollIn(VL_FRAME_SIZE).ready) << "no finger";
    EXPECT_TRUE(m.capturing());
}

TEST(SensorModel, OneFramePerBeginCaptureInPacketsAsAsked)
{
    sim::SensorModel m;
    m.placeFrame(filled(9));
    command(m, m_verify_beg_cmd);
    auto first = m.pollIn(64);
    ASSERT_TRUE(first.ready);
    EXPECT_EQ(first.bytes.size(), 64u);
    auto rest = m.pollIn(VL_FRAME_SIZE);
    EXPECT_EQ(rest.bytes.size(), static_cast<size_t>(VL_FRAME_SIZE - 64));
    EXPECT_FALSE(m.pollIn(VL_FRAME_SIZE).ready) << "a second frame needs a second begin-capture";
    EXPECT_EQ(m.framesSent(), 1);
}

TEST(SensorModel, EndCaptureStopsAWaitingCapture)
{
    sim::SensorModel m;
    command(m, m_capture_beg_cmd);
    command(m, m_capture_end_cmd);
    m.placeFrame(filled(1));
    EXPECT_FALSE(m.pollIn(VL_FRAME_SIZE).ready);
    EXPECT_EQ(m.writes().size(), 2u);
}

TEST(SensorModel, DelayHoldsTheNextFrameOnly)
{
    sim::SensorModel m;
    m.placeFrame(filled(1));
    m.delayNextFrame(150);
    command(m, m_capture_beg_cmd);
    EXPECT_FALSE(m.pollIn(VL_FRAME_SIZE).ready);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(m.pollIn(VL_FRAME_SIZE).ready);
    command(m, m_capture_beg_cmd);
    EXPECT_TRUE(m.pollIn(VL_FRAME_SIZE).ready) << "the delay was for one frame";
}

TEST(SensorModel, FaultsReplaceOneCapture)
{
    sim::SensorModel m;
    m.placeFrame(filled(1));
    m.failNextCapture(sim::Fault::Stall);
    command(m, m_capture_beg_cmd);
    auto stall = m.pollIn(VL_FRAME_SIZE);
    EXPECT_TRUE(stall.ready);
    EXPECT_LT(stall.status, 0);
    m.failNextCapture(sim::Fault::ShortFrame);
    command(m, m_capture_beg_cmd);
    EXPECT_EQ(m.pollIn(VL_FRAME_SIZE).bytes.size(), static_cast<size_t>(VL_FRAME_SIZE / 2));
    command(m, m_capture_beg_cmd);
    EXPECT_EQ(m.pollIn(VL_FRAME_SIZE).bytes.size(), static_cast<size_t>(VL_FRAME_SIZE));
}

TEST(SensorModel, GeneratedFingerCountsItsImpressionsFromZero)
{
    sim::SensorModel m;
    m.placeSource([](int n) { return filled(static_cast<uint8_t>(n + 10)); });
    for (int n = 0; n < 3; ++n) {
        command(m, m_capture_beg_cmd);
        EXPECT_EQ(m.pollIn(VL_FRAME_SIZE).bytes[0], n + 10);
    }
}

// The raw frame layout and the command frames.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "protocol/sensor_frames.h"

TEST(FrameLayout, RowFiveExampleGivesColumnsZeroAndFour)
{
    std::vector<uint8_t> frame(VL_FRAME_SIZE, 0);
    const int row = 5 * VL_FRAME_ROW_BYTES;
    frame[row + 0] = 0xAB;
    frame[row + 1] = 0xCD;
    frame[row + 2] = 0xEF;
    EXPECT_EQ(frameSample(frame.data(), 5, 0), 0xABE);
    EXPECT_EQ(frameSample(frame.data(), 5, 4), 0xCDF);
    EXPECT_EQ(frameSample(frame.data(), 4, 0), 0);
    EXPECT_EQ(frameSample(frame.data(), 5, 8), 0);
    // Bytes 36 to 38 of the row hold columns 1 and 5.
    frame[row + 36] = 0x12;
    frame[row + 37] = 0x34;
    frame[row + 38] = 0x56;
    EXPECT_EQ(frameSample(frame.data(), 5, 1), 0x125);
    EXPECT_EQ(frameSample(frame.data(), 5, 5), 0x346);
}

TEST(FrameLayout, AllOnesAndAllZerosUnpackUniformly)
{
    std::vector<uint16_t> samples(VL_IMG_PIXELS, 1);
    std::vector<uint8_t> ones(VL_FRAME_SIZE, 0xFF);
    unpackFrame(ones.data(), samples.data());
    for (uint16_t v : samples)
        ASSERT_EQ(v, 0xFFF);
    std::vector<uint8_t> zeros(VL_FRAME_SIZE, 0);
    unpackFrame(zeros.data(), samples.data());
    for (uint16_t v : samples)
        ASSERT_EQ(v, 0);
}

TEST(FrameLayout, LastSampleSitsAtTheEndOfTheFrame)
{
    std::vector<uint8_t> frame(VL_FRAME_SIZE, 0);
    // Column 95: block 3, sample 23, the second of group 11.
    frame[VL_FRAME_SIZE - 2] = 0x9A;
    frame[VL_FRAME_SIZE - 1] = 0x0B;
    EXPECT_EQ(frameSample(frame.data(), 95, 95), 0x9AB);
}

TEST(FrameLayout, PackIsTheInverseOfUnpack)
{
    std::vector<uint16_t> samples(VL_IMG_PIXELS);
    for (int i = 0; i < VL_IMG_PIXELS; ++i)
        samples[i] = static_cast<uint16_t>((i * 2654435761u) >> 20) & 0x0FFF;
    std::vector<uint8_t> frame(VL_FRAME_SIZE, 0xAA);
    packFrame(samples.data(), frame.data());
    std::vector<uint16_t> back(VL_IMG_PIXELS);
    unpackFrame(frame.data(), back.data());
    EXPECT_EQ(back, samples);
}

TEST(CommandFrames, CarryTheirCodeTwiceBetweenMarkers)
{
    EXPECT_EQ(commandFrameCode(m_capture_beg_cmd, 8), 3);
    EXPECT_EQ(commandFrameCode(m_verify_beg_cmd, 8), 4);
    EXPECT_EQ(commandFrameCode(m_capture_end_cmd, 8), 2);
    const uint8_t expected[8] = {0xEA, 0x03, 0, 0, 0, 0, 0x03, 0xEA};
    EXPECT_EQ(0, memcmp(m_capture_beg_cmd, expected, 8));
    const uint8_t mismatched[8] = {0xEA, 0x03, 0, 0, 0, 0, 0x04, 0xEA};
    EXPECT_EQ(commandFrameCode(mismatched, 8), -1);
    EXPECT_EQ(commandFrameCode(m_capture_beg_cmd, 7), -1);
}

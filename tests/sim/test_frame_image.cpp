// Pictures placed on the emulated sensor become packed 12-bit frames.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "protocol/sensor_frames.h"
#include "sim/frame_image.h"

namespace {

std::vector<uint8_t> pgm(int w, int h, int maxval, const std::string &extraHeader = "")
{
    std::string header =
        "P5\n" + extraHeader + std::to_string(w) + " " + std::to_string(h) + "\n" + std::to_string(maxval) + "\n";
    std::vector<uint8_t> f(header.begin(), header.end());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f.push_back(static_cast<uint8_t>((x + 2 * y) % 256));
    return f;
}

} // namespace

TEST(FrameImage, ExactSizeImageIsScaledToTwelveBits)
{
    const auto frame = sim::frameFromPgm(pgm(96, 96, 255));
    ASSERT_EQ(frame.size(), static_cast<size_t>(VL_FRAME_SIZE));
    EXPECT_EQ(frameSample(frame.data(), 0, 0), 0);
    EXPECT_EQ(frameSample(frame.data(), 0, 5), 5 * 4095 / 255);
    EXPECT_EQ(frameSample(frame.data(), 95, 95), (95 + 190) % 256 * 4095 / 255);
}

TEST(FrameImage, LargerImageIsCutAroundItsCentre)
{
    const auto frame = sim::frameFromPgm(pgm(100, 120, 255, "# a comment\n"));
    // The cut starts at x = 2, y = 12.
    EXPECT_EQ(frameSample(frame.data(), 0, 0), (2 + 24) * 4095 / 255);
}

TEST(FrameImage, UnusableFilesAreRefused)
{
    EXPECT_THROW(sim::frameFromPgm(pgm(95, 96, 255)), std::runtime_error);
    EXPECT_THROW(sim::frameFromPgm(pgm(96, 96, 65535)), std::runtime_error);
    auto truncated = pgm(96, 96, 255);
    truncated.resize(truncated.size() - 1);
    EXPECT_THROW(sim::frameFromPgm(truncated), std::runtime_error);
    const std::string p6 = "P6\n96 96\n255\n";
    EXPECT_THROW(sim::frameFromPgm(std::vector<uint8_t>(p6.begin(), p6.end())), std::runtime_error);
    const std::string huge = "P5\n99999999999 96\n255\n";
    EXPECT_THROW(sim::frameFromPgm(std::vector<uint8_t>(huge.begin(), huge.end())), std::runtime_error);
}

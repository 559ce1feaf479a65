#include <gtest/gtest.h>

#include <vector>

#include "fpgen.h"
#include "rng.h"

namespace {

using fpgen::kFrameBytes;
using fpgen::kFramePixels;
using fpgen::kFrameSide;

std::vector<uint16_t> unpack(const fpgen::Frame &frame)
{
    std::vector<uint16_t> img(kFramePixels);
    fpgen::unpack_frame(frame.data(), img.data());
    return img;
}

TEST(FramePack, RoundTripsEverySampleValue)
{
    fpgen::Rng rng(42);
    std::vector<uint16_t> img(kFramePixels);
    for (int pass = 0; pass < 3; ++pass) {
        for (size_t i = 0; i < kFramePixels; ++i)
            img[i] = pass == 0 ? static_cast<uint16_t>(i % 4096) : static_cast<uint16_t>(rng.below(4096));
        const fpgen::Frame frame = fpgen::pack_frame(img.data());
        EXPECT_EQ(unpack(frame), img);
        EXPECT_EQ(fpgen::pack_frame(unpack(frame).data()), frame);
    }
}

TEST(FramePack, FollowsTheSensorLayout)
{
    fpgen::Frame frame{};
    // Row 5 starts with AB CD EF: column 0 is 0xABE, column 4 is 0xCDF.
    const size_t row5 = 144 * 5;
    frame[row5] = 0xAB;
    frame[row5 + 1] = 0xCD;
    frame[row5 + 2] = 0xEF;
    // Bytes 36..38 of the row are the second block: columns 1 and 5.
    frame[row5 + 36] = 0x12;
    frame[row5 + 37] = 0x34;
    frame[row5 + 38] = 0x56;
    // The last group of the last row: columns 91 and 95.
    frame[kFrameBytes - 3] = 0x9A;
    frame[kFrameBytes - 2] = 0xBC;
    frame[kFrameBytes - 1] = 0xDE;
    const auto img = unpack(frame);
    EXPECT_EQ(img[5 * kFrameSide + 0], 0xABE);
    EXPECT_EQ(img[5 * kFrameSide + 4], 0xCDF);
    EXPECT_EQ(img[5 * kFrameSide + 1], 0x125);
    EXPECT_EQ(img[5 * kFrameSide + 5], 0x346);
    EXPECT_EQ(img[95 * kFrameSide + 91], 0x9AD);
    EXPECT_EQ(img[95 * kFrameSide + 95], 0xBCE);
    size_t nonzero = 0;
    for (uint16_t v : img)
        nonzero += v != 0;
    EXPECT_EQ(nonzero, 6u);
}

TEST(FramePack, ExtremesAndClamping)
{
    fpgen::Frame ones;
    ones.fill(0xFF);
    for (uint16_t v : unpack(ones))
        ASSERT_EQ(v, 0xFFF);
    for (uint16_t v : unpack(fpgen::Frame{}))
        ASSERT_EQ(v, 0);

    // Out-of-range samples saturate instead of wrapping into dark pixels.
    std::vector<uint16_t> img(kFramePixels, 0x1000);
    img[7] = 0xFFFF;
    const fpgen::Frame frame = fpgen::pack_frame(img.data());
    EXPECT_EQ(frame, ones);
}

} // namespace

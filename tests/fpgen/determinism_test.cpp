// The generator's pixels are part of its contract: the same seed must give
// the same bytes on every machine and build type (this test also runs in the
// unoptimised sanitizer build). A change of these hashes means every
// generated set, and every test built on one, changes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <future>
#include <vector>

#include "fpgen.h"

namespace {

uint32_t crc(const uint8_t *data, size_t size)
{
    return static_cast<uint32_t>(crc32(0L, data, static_cast<uInt>(size)));
}

uint32_t crc(const fpgen::Image &img) { return crc(img.pixels.data(), img.pixels.size()); }

TEST(Determinism, GoldenHashes)
{
    using fpgen::Style;
    EXPECT_EQ(crc(fpgen::render_impression(2547, 0, 0, 96, 96, Style::easy)), 289778605u);
    EXPECT_EQ(crc(fpgen::render_impression(2547, 0, 2, 300, 300, Style::easy)), 2141056199u);
    EXPECT_EQ(crc(fpgen::render_impression(1, 17, 5, 160, 240, Style::easy)), 1386100167u);
    const fpgen::Frame frame = fpgen::render_frame(2547, 0, 5, Style::easy);
    EXPECT_EQ(crc(frame.data(), frame.size()), 24472832u);
    EXPECT_EQ(crc(fpgen::render_master(2547, 1, 300, 300, Style::easy)), 70705207u);
    // The default style: furrows, skin detail and soft rendering included.
    EXPECT_EQ(crc(fpgen::render_impression(2547, 0, 0, 300, 300)), 2417364593u);
    const fpgen::Frame hard = fpgen::render_frame(7321, 3, 31, Style::hard);
    EXPECT_EQ(crc(hard.data(), hard.size()), 349614761u);
}

TEST(Determinism, RepeatableAndThreadSafe)
{
    const fpgen::Image first = fpgen::render_impression(99, 4, 1, 128, 128);
    // Several threads on fresh and cached masters at once.
    std::vector<std::future<fpgen::Image>> jobs;
    for (int i = 0; i < 4; ++i)
        jobs.push_back(std::async(std::launch::async, [] { return fpgen::render_impression(99, 4, 1, 128, 128); }));
    for (auto &j : jobs)
        EXPECT_EQ(j.get().pixels, first.pixels);

    // The 8-bit image and the 12-bit frame are the same picture.
    const fpgen::Image img = fpgen::render_impression(99, 4, 1, 96, 96);
    const fpgen::Frame12 img12 = fpgen::render_impression12(99, 4, 1);
    for (size_t i = 0; i < fpgen::kFramePixels; ++i)
        ASSERT_NEAR(img12[i] / 4095.0, img.pixels[i] / 255.0, 0.6 / 255.0) << i;
}

} // namespace

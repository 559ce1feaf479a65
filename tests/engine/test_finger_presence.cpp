// The frame gate before template creation: a bare sensor's fixed pattern is
// no finger, a print is one, whole or over half the window.
#include <gtest/gtest.h>

#include "engine/finger_presence.h"
#include "fpgen.h"
#include "sim/sensor_artefacts.h"

namespace {

std::array<uint16_t, VL_IMG_PIXELS> withArtefacts(std::array<uint16_t, VL_IMG_PIXELS> img, bool half)
{
    sim::Artefacts a;
    sim::parseArtefacts("level 2600 gain 0.6 columns 80 noise 25 dead 12", a);
    a.half = half;
    a.apply(img.data(), 1);
    return img;
}

TEST(FingerPresence, BareSensorIsNoFingerWhateverItsFixedPattern)
{
    std::array<uint16_t, VL_IMG_PIXELS> white;
    white.fill(4095);
    EXPECT_EQ(fingerCoverage(white.data()), 0.0);
    EXPECT_FALSE(fingerPresent(withArtefacts(white, false).data()));
}

TEST(FingerPresence, PrintsCountWholeAndOverHalfTheWindow)
{
    for (int finger = 0; finger < 4; ++finger) {
        const auto print = fpgen::render_impression12(fpgen::kDefaultSeed, finger, 7);
        EXPECT_GT(fingerCoverage(print.data()), 0.9) << finger;
        EXPECT_GT(fingerCoverage(withArtefacts(print, false).data()), 0.9) << finger;
        const double half = fingerCoverage(withArtefacts(print, true).data());
        EXPECT_GT(half, 0.4) << finger;
        EXPECT_LT(half, 0.6) << finger;
    }
}

} // namespace

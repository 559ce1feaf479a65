#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <stdexcept>

#include "detmath.h"
#include "fpgen.h"
#include "impression.h"
#include "master.h"

namespace {

constexpr uint32_t kSeed = 2547;
constexpr int kSide = 160;

// Pearson correlation between an impression's ink and the master ridge field
// it should have been cut from, through the impression's own placement, over
// pixels well inside the fingertip.
double correlation_with_master(const fpgen::Image &img, const fpgen::Placement &place, const fpgen::Master &m)
{
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    int n = 0;
    for (int v = 0; v < img.height; ++v)
        for (int u = 0; u < img.width; ++u) {
            double mx = 0, my = 0;
            place.to_master(u, v, mx, my);
            if (m.inside(mx, my) < 0.95)
                continue;
            const double a = 255.0 - img.pixels[static_cast<size_t>(v) * img.width + u];
            const double b = m.ridge_at(mx, my);
            sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
            ++n;
        }
    if (n < 1000)
        return 0.0;
    const double cov = sab / n - (sa / n) * (sb / n);
    return cov / std::sqrt((saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n));
}

double correlation(const fpgen::Image &a, const fpgen::Image &b)
{
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    const double n = static_cast<double>(a.pixels.size());
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const double x = a.pixels[i], y = b.pixels[i];
        sa += x, sb += y, saa += x * x, sbb += y * y, sab += x * y;
    }
    return (sab / n - sa / n * sb / n) / std::sqrt((saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n));
}

TEST(Impression, AlignsWithItsOwnMasterOnly)
{
    for (int finger = 0; finger < 2; ++finger) {
        const auto own = fpgen::cached_master(kSeed, finger);
        const auto other = fpgen::cached_master(kSeed, finger + 10);
        for (int k = 0; k < 2; ++k) {
            const fpgen::Image img = fpgen::render_impression(kSeed, finger, k, kSide, kSide);
            const fpgen::Placement place = fpgen::impression_placement(kSeed, finger, k, kSide, kSide);
            EXPECT_GT(correlation_with_master(img, place, *own), 0.5) << finger << "/" << k;
            EXPECT_LT(std::fabs(correlation_with_master(img, place, *other)), 0.2) << finger << "/" << k;
        }
    }
}

TEST(Impression, FingersAndImpressionsDiffer)
{
    const fpgen::Image a0 = fpgen::render_impression(kSeed, 0, 0, kSide, kSide);
    const fpgen::Image a1 = fpgen::render_impression(kSeed, 0, 1, kSide, kSide);
    const fpgen::Image b0 = fpgen::render_impression(kSeed, 1, 0, kSide, kSide);
    const fpgen::Image s0 = fpgen::render_impression(kSeed + 1, 0, 0, kSide, kSide);
    EXPECT_NE(a0.pixels, a1.pixels);
    EXPECT_LT(std::fabs(correlation(a0, b0)), 0.3);
    EXPECT_LT(std::fabs(correlation(a0, s0)), 0.3);
    EXPECT_NE(fpgen::render_master(kSeed, 0, 64, 64).pixels, fpgen::render_master(kSeed + 1, 0, 64, 64).pixels);
}

TEST(Impression, PlacementCoversTheRotationRange)
{
    double lo = 0, hi = 0;
    for (int k = 0; k < 60; ++k) {
        const fpgen::Placement p = fpgen::impression_placement(kSeed, 0, k, 96, 96);
        const double deg = fpgen::det_atan2(p.place.s, p.place.c) * 180.0 / fpgen::kPi;
        EXPECT_LE(std::fabs(deg), 20.0 + 1e-9);
        lo = std::min(lo, deg);
        hi = std::max(hi, deg);
    }
    EXPECT_LT(lo, -15.0);
    EXPECT_GT(hi, 15.0);
}

TEST(Impression, SensorWindowShowsRidges)
{
    // Every 96x96 window is on the finger and carries ridge contrast.
    for (int k = 0; k < 8; ++k) {
        const fpgen::Image img = fpgen::render_impression(kSeed, 0, k, 96, 96);
        double s = 0, ss = 0;
        for (uint8_t p : img.pixels)
            s += p, ss += p * p;
        const double n = static_cast<double>(img.pixels.size());
        EXPECT_GT(std::sqrt(ss / n - (s / n) * (s / n)), 20.0) << k;
    }
}

TEST(Impression, PatternClassesOccurAtPublishedShares)
{
    std::set<fpgen::PatternClass> seen;
    for (int f = 0; f < 300; ++f)
        seen.insert(fpgen::pattern_class(kSeed, f, fpgen::Style::easy));
    EXPECT_EQ(seen.size(), 5u);
    EXPECT_STREQ(fpgen::pattern_name(fpgen::PatternClass::Whorl), "whorl");

    // Arch 4 %, tented arch 3 %, left loop 34 %, right loop 32 %, whorl 28 %.
    constexpr int kFingers = 10000;
    const double published[5] = {0.04, 0.03, 0.34, 0.32, 0.28};
    int count[5] = {};
    for (int f = 0; f < kFingers; ++f)
        ++count[static_cast<int>(fpgen::pattern_class(kSeed, f))];
    for (int c = 0; c < 5; ++c)
        EXPECT_NEAR(count[c] / static_cast<double>(kFingers), published[c], 0.015) << c;
}

TEST(Impression, RejectsInvalidArguments)
{
    EXPECT_THROW(fpgen::render_impression(kSeed, -1, 0, 96, 96), std::invalid_argument);
    EXPECT_THROW(fpgen::render_impression(kSeed, 0, -1, 96, 96), std::invalid_argument);
    EXPECT_THROW(fpgen::render_impression(kSeed, 0, 0, 0, 96), std::invalid_argument);
    EXPECT_THROW(fpgen::render_impression(kSeed, 0, 0, 96, fpgen::kMaxSide + 1), std::invalid_argument);
    EXPECT_THROW(fpgen::render_frame(kSeed, -3, 0), std::invalid_argument);
    EXPECT_THROW(fpgen::render_master(kSeed, 0, 8, 300), std::invalid_argument);
    EXPECT_THROW(fpgen::pattern_class(kSeed, -1), std::invalid_argument);
    EXPECT_THROW(fpgen::contact_sheet(kSeed, 0, 4, 96), std::invalid_argument);
    EXPECT_THROW(fpgen::contact_sheet(kSeed, 4, 4, 0), std::invalid_argument);
    // The extremes that are allowed work.
    const fpgen::Image tiny = fpgen::render_impression(kSeed, 0, 0, 1, 1);
    EXPECT_EQ(tiny.pixels.size(), 1u);
    const fpgen::Image sheet = fpgen::contact_sheet(kSeed, 1, 2, 32);
    EXPECT_EQ(sheet.width, 2 * 36 + 4);
    EXPECT_EQ(sheet.height, 40);
}

} // namespace

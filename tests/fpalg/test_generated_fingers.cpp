// Fingers from the project's generator, moved the ways a real finger moves
// between touches: turned far round, and with the skin stretched. Both must
// still verify, and another generated finger must not.
#include <gtest/gtest.h>

#include <cmath>

#include "fpalg_test_util.h"
#include "fpgen.h"

using namespace fpalg_test;

namespace {

constexpr std::uint32_t kSeed = 4711;
constexpr int kMasterSide = 288;

// A 96 x 96 capture of a finger's master print centred at (cy, cx), turned
// by `degrees`; `stretch` moves each sensor pixel's source by a smooth field.
class Finger {
public:
    explicit Finger(int finger)
        : master_(fpgen::render_master(kSeed, finger, kMasterSide, kMasterSide, fpgen::Style::easy)) {}

    template <typename Stretch>
    std::vector<std::uint16_t> capture(double cy, double cx, double degrees, Stretch stretch) const {
        std::vector<std::uint16_t> img(96 * 96);
        const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 96; ++x) {
                double dy = y - 47.5, dx = x - 47.5;
                stretch(dy, dx);
                const int v = sample(cy + c * dy + s * dx, cx - s * dy + c * dx);
                img[y * 96 + x] = static_cast<std::uint16_t>(v << 2 | v >> 6);
            }
        return img;
    }
    std::vector<std::uint16_t> capture(double cy, double cx, double degrees = 0.0) const {
        return capture(cy, cx, degrees, [](double &, double &) {});
    }

    Bytes enroll() const {
        Bytes last;
        for (int gy = -1; gy <= 1; ++gy)
            for (int gx = -1; gx <= 1; ++gx) {
                const Bytes t = make_template(capture(144 + 24 * gy, 144 + 24 * gx));
                Bytes out;
                if (last.empty())
                    last = t;
                else if (merge(last, t, out) == 0)
                    last = out;
            }
        return last;
    }

private:
    int sample(double y, double x) const {
        const int y0 = static_cast<int>(std::floor(y)), x0 = static_cast<int>(std::floor(x));
        if (y0 < 0 || x0 < 0 || y0 + 1 >= kMasterSide || x0 + 1 >= kMasterSide) return 255;
        const double fy = y - y0, fx = x - x0;
        const auto at = [this](int yy, int xx) { return static_cast<double>(master_.pixels[yy * kMasterSide + xx]); };
        const double v = (1 - fy) * ((1 - fx) * at(y0, x0) + fx * at(y0, x0 + 1)) +
                         fy * ((1 - fx) * at(y0 + 1, x0) + fx * at(y0 + 1, x0 + 1));
        return static_cast<int>(std::lround(v));
    }
    fpgen::Image master_;
};

class GeneratedFinger : public ::testing::Test {
protected:
    void SetUp() override { FpAlg_Init(5); }
};

TEST_F(GeneratedFinger, TurnedUpTo45DegreesStillVerifies) {
    const Finger finger(0);
    const Bytes enrolled = finger.enroll();
    for (const double deg : {-45.0, -38.0, 33.0, 45.0})
        EXPECT_GT(score(enrolled, make_template(finger.capture(150, 140, deg))), FPALG_MATCH_THRESHOLD) << deg;
}

TEST_F(GeneratedFinger, SkinStretchedByPixelsAcrossTheViewStillVerifies) {
    const Finger finger(1);
    const Bytes enrolled = finger.enroll();
    // 7 % along x and a sideways drag that bends across the view: up to
    // about 5 px between the middle and the edges, nowhere a fold.
    const auto stretch = [](double &dy, double &dx) {
        const double ox = dx;
        dx = 1.07 * dx + 2.5 * std::sin(dy * M_PI / 96.0);
        dy = 0.97 * dy + 1.5 * std::cos(ox * M_PI / 96.0);
    };
    EXPECT_GT(score(enrolled, make_template(finger.capture(140, 150, 10.0, stretch))), FPALG_MATCH_THRESHOLD);
    EXPECT_GT(score(enrolled, make_template(finger.capture(150, 136, -20.0, stretch))), FPALG_MATCH_THRESHOLD);
}

TEST_F(GeneratedFinger, AnotherFingerNeverVerifies) {
    const Bytes enrolled = Finger(2).enroll();
    for (int other = 3; other < 8; ++other) {
        const Finger stranger(other);
        for (const auto &[cy, cx, deg] : {std::tuple{144.0, 144.0, 0.0}, {120.0, 170.0, 25.0}, {165.0, 125.0, -30.0}})
            EXPECT_LE(score(enrolled, make_template(stranger.capture(cy, cx, deg))), FPALG_MATCH_THRESHOLD)
                << other << " at " << cy << "," << cx;
    }
}

}  // namespace

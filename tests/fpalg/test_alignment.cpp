// The matcher must find a finger wherever and however it lands on the
// sensor, within the ranges a finger really moves, and tell different
// fingers apart. Synthetic prints stand in for real ones.
#include <gtest/gtest.h>

#include "fpalg_test_util.h"
#include "match.h"
#include "template_format.h"

using namespace fpalg_test;

namespace {

fpalg::ScoreParts explain(const Bytes &stored, const Bytes &probe) {
    fpalg::Template s, p;
    EXPECT_TRUE(fpalg::decode_template(stored.data(), s));
    EXPECT_TRUE(fpalg::decode_template(probe.data(), p));
    return fpalg::match_templates(s, p);
}

class Alignment : public ::testing::Test {
protected:
    void SetUp() override { FpAlg_Init(5); }
    SyntheticPrint print{3};
};

TEST_F(Alignment, ShiftedCaptureMatchesAndTheShiftIsRecovered) {
    const Bytes stored = make_template(print.capture(128, 128));
    for (const auto &[dy, dx] : {std::pair{0, 0}, {10, -6}, {-20, 14}, {26, 26}}) {
        // The probe's centre lies (dy, dx) from the stored capture's, so its
        // pixel p shows what the stored view holds at p + (dy, dx).
        const Bytes probe = make_template(print.capture(128 + dy, 128 + dx));
        const fpalg::ScoreParts p = explain(stored, probe);
        EXPECT_GT(p.score, FPALG_MATCH_THRESHOLD) << dy << "," << dx << " raw " << p.raw;
        EXPECT_NEAR(p.dy, dy, 1) << dy << "," << dx;
        EXPECT_NEAR(p.dx, dx, 1) << dy << "," << dx;
        EXPECT_EQ(p.angle_deci, 0);
    }
}

TEST_F(Alignment, RotatedCaptureMatchesAtItsAngle) {
    const Bytes stored = make_template(print.capture(128, 128));
    for (const double deg : {-24.0, -9.0, 12.0, 27.0}) {
        const Bytes probe = make_template(print.capture(128, 128, deg));
        const fpalg::ScoreParts p = explain(stored, probe);
        EXPECT_GT(p.score, FPALG_MATCH_THRESHOLD) << deg;
        // The probe is turned back by the angle it was turned.
        EXPECT_NEAR(p.angle_deci, 10 * deg, 20) << deg;
    }
}

// A pose given from outside (the loss analysis's true pose) is scored on a
// probe whose rotations the search never made: they must be made on demand.
TEST_F(Alignment, GivenPoseIsScoredOnAFreshProbe) {
    fpalg::Template s, p;
    ASSERT_TRUE(fpalg::decode_template(make_template(print.capture(128, 128)).data(), s));
    ASSERT_TRUE(fpalg::decode_template(make_template(print.capture(128, 128, 21.0)).data(), p));
    const int k = 210 / fpalg::params::kAngleStepDeciDeg + fpalg::params::kAngleCount / 2;
    const fpalg::ScoreParts right = fpalg::match_at(s, p, {fpalg::Candidate{0, k, fpalg::Peak{0.3f, 0, 0}}});
    EXPECT_GT(right.score, FPALG_MATCH_THRESHOLD);
    EXPECT_EQ(right.angle_deci, 210);
    const fpalg::ScoreParts wrong = fpalg::match_at(s, p, {fpalg::Candidate{0, k - 10, fpalg::Peak{0.3f, 0, 0}}});
    EXPECT_LE(wrong.score, FPALG_MATCH_THRESHOLD);
}

TEST_F(Alignment, RotatedAndShiftedProbeMatchesAnEnrolledGrid) {
    const Bytes enrolled = enroll_grid(print);
    EXPECT_GT(score(enrolled, make_template(print.capture(100, 150, 15))), FPALG_MATCH_THRESHOLD);
    EXPECT_GT(score(enrolled, make_template(print.capture(150, 110, -18))), FPALG_MATCH_THRESHOLD);
}

TEST_F(Alignment, DifferentPrintsDoNotMatch) {
    const Bytes enrolled = enroll_grid(print);
    for (unsigned seed : {11u, 12u, 13u}) {
        const SyntheticPrint other(seed);
        EXPECT_LE(score(enrolled, make_template(other.capture(128, 128))), FPALG_MATCH_THRESHOLD) << seed;
        EXPECT_LE(score(enrolled, make_template(other.capture(110, 140, 10))), FPALG_MATCH_THRESHOLD) << seed;
    }
}

// Less shared area means less evidence: the score must not grow as the
// probe slides off the stored capture.
TEST_F(Alignment, ScoreFallsAsTheOverlapShrinks) {
    const Bytes stored = make_template(print.capture(128, 128));
    int previous = 101;
    for (int shift : {0, 12, 24, 36, 48, 60}) {
        const int s = score(stored, make_template(print.capture(128, 128 + shift)));
        EXPECT_LE(s, previous) << shift;
        previous = s;
    }
    EXPECT_LT(previous, 100);
}

TEST_F(Alignment, NothingSharedScoresZero) {
    const Bytes stored = make_template(print.capture(80, 80));
    EXPECT_EQ(score(stored, make_template(print.capture(200, 200))), 0);
}

TEST_F(Alignment, SameInputsGiveSameBytesAndScores) {
    const auto image = print.capture(120, 131, 7);
    const Bytes a = make_template(image), b = make_template(image);
    EXPECT_EQ(a, b);
    const Bytes enrolled = enroll_grid(print), again = enroll_grid(print);
    EXPECT_EQ(enrolled, again);
    const Bytes other = make_template(SyntheticPrint(5).capture(128, 128));
    const int first = score(enrolled, a);
    score(enrolled, other);  // the probe cache now holds another probe
    EXPECT_EQ(score(enrolled, a), first);
    EXPECT_EQ(score(again, b), first);
}

}  // namespace

// Enrollment merges and renewals change what is stored for good, so their
// refusals are as important as their successes.
#include <gtest/gtest.h>

#include "fpalg_test_util.h"
#include "template_format.h"

using namespace fpalg_test;

namespace {

fpalg::Template decoded(const Bytes &b) {
    fpalg::Template t;
    EXPECT_TRUE(fpalg::decode_template(b.data(), t));
    return t;
}

int renew(Bytes &out) {
    out.assign(FPALG_TEMPLATE_SIZE, 0);
    std::int16_t o1, o2, o3;
    return FpAlg_RenewFeature(out.data(), &o1, &o2, &o3);
}

class MergeRenew : public ::testing::Test {
protected:
    void SetUp() override { FpAlg_Init(5); }
    SyntheticPrint print{3};
};

TEST_F(MergeRenew, MergeAddsAViewAndRegistersItBesideTheFirst) {
    const Bytes a = make_template(print.capture(128, 128)), b = make_template(print.capture(128, 152));
    Bytes out;
    ASSERT_EQ(merge(a, b, out), 0);
    const fpalg::Template t = decoded(out);
    ASSERT_EQ(t.view_count, 2);
    EXPECT_EQ(t.views[1].frame, 0);
    EXPECT_NEAR(t.views[1].pose_tx_eighths / 8.0, 24.0, 1.0);
    EXPECT_NEAR(t.views[1].pose_ty_eighths / 8.0, 0.0, 1.0);
}

TEST_F(MergeRenew, RepeatedCaptureAddsNothingAndIsRefused) {
    const Bytes a = make_template(print.capture(128, 128));
    Bytes out;
    EXPECT_NE(merge(a, a, out), 0);
    EXPECT_NE(merge(a, make_template(print.capture(128, 129)), out), 0);
}

TEST_F(MergeRenew, BlankCaptureIsNeverATemplate) {
    int r = 0;
    make_template(std::vector<std::uint16_t>(96 * 96, 500), &r);
    EXPECT_NE(r, 1);
    std::vector<std::uint16_t> img(96 * 96);
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<std::uint16_t>(i % 2 ? 0 : 1023);
    make_template(img, &r);  // pixel noise far above the ridge band
    EXPECT_NE(r, 1);
}

TEST_F(MergeRenew, NinthViewFillsTheEnrollmentAndATenthIsRefused) {
    const Bytes full = enroll_grid(print);
    ASSERT_EQ(decoded(full).view_count, 9);
    Bytes out;
    EXPECT_NE(merge(full, make_template(print.capture(60, 60)), out), 0);
}

TEST_F(MergeRenew, RenewalNeedsAFreshConvincingMatch) {
    const Bytes enrolled = enroll_grid(print);
    Bytes out, again;
    // A comparison with a template that is not one: nothing to renew.
    EXPECT_EQ(score(Bytes(FPALG_TEMPLATE_SIZE, 0), enrolled), 0);
    EXPECT_NE(renew(out), 0);
    // An impostor scored below the threshold: nothing to renew.
    ASSERT_LE(score(enrolled, make_template(SyntheticPrint(12).capture(128, 128))), FPALG_MATCH_THRESHOLD);
    EXPECT_NE(renew(out), 0);
    // A strong match inside the enrolled area counts, but takes no slot.
    ASSERT_GE(score(enrolled, make_template(print.capture(118, 140, 5))), fpalg::params::kRenewMinScore);
    ASSERT_EQ(renew(out), 0);
    EXPECT_EQ(decoded(out).view_count, 9);
    // One that reaches past it renews once, and only once.
    const Bytes probe = make_template(print.capture(128, 182, 5));
    ASSERT_GE(score(enrolled, probe), fpalg::params::kRenewMinScore);
    ASSERT_EQ(renew(out), 0);
    EXPECT_NE(renew(again), 0);
    const fpalg::Template before = decoded(enrolled), after = decoded(out);
    ASSERT_EQ(after.view_count, 10);
    for (int v = 0; v < 9; ++v) EXPECT_EQ(after.views[v].level, before.views[v].level) << v;
    EXPECT_EQ(after.views[9].origin, 1);
    // Matched again, it lands on its own renewal view: the match still
    // renews (the daemon rewrites the file), but nothing placed on a
    // renewal view joins the template.
    ASSERT_GE(score(out, probe), fpalg::params::kRenewMinScore);
    Bytes third;
    ASSERT_EQ(renew(third), 0);
    EXPECT_EQ(decoded(third).view_count, 10);
}

TEST_F(MergeRenew, RenewalsRotateThroughTheirOwnSlotsOnly) {
    Bytes stored = enroll_grid(print);
    const fpalg::Template original = decoded(stored);
    // Each capture reaches past a different side of the enrolled area.
    const double centres[4][2] = {{128, 182}, {182, 128}, {74, 128}, {128, 74}};
    for (int i = 0; i < 4; ++i) {
        const Bytes probe = make_template(print.capture(centres[i][0], centres[i][1], 2.0 * i));
        ASSERT_GE(score(stored, probe), fpalg::params::kRenewMinScore) << i;
        Bytes out;
        ASSERT_EQ(renew(out), 0) << i;
        stored = out;
    }
    const fpalg::Template t = decoded(stored);
    EXPECT_EQ(t.view_count, fpalg::params::kMaxViews);
    EXPECT_EQ(t.renewals, 4);
    for (int v = 0; v < 9; ++v) EXPECT_EQ(t.views[v].level, original.views[v].level) << v;
}

TEST_F(MergeRenew, NullOutValuesAndBadSizesAreSurvived) {
    const Bytes a = make_template(print.capture(128, 128)), b = make_template(print.capture(128, 152));
    Bytes out(FPALG_TEMPLATE_SIZE);
    EXPECT_EQ(FpAlg_MergeFeature(a.data(), b.data(), out.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_NE(FpAlg_MergeFeature(nullptr, b.data(), out.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(FpAlg_MatchScore(nullptr, b.data()), 0);
    const auto img = print.capture(128, 128);
    Bytes scratch(FPALG_SCRATCH_SIZE), rec(FPALG_COUNT_RECORD_SIZE);
    EXPECT_NE(FpAlg_CreateTemplate16(img.data(), scratch.data(), 64, 96, out.data(), rec.data()), 1);
    EXPECT_NE(FpAlg_CreateTemplate16(nullptr, scratch.data(), 96, 96, out.data(), rec.data()), 1);
}

}  // namespace

// A stored template is untrusted input: anything but a well-formed template
// of this version must score 0 and never be merged.
#include <gtest/gtest.h>

#include <random>

#include "fpalg_test_util.h"
#include "template_format.h"

using namespace fpalg_test;

namespace {

class TemplateFormat : public ::testing::Test {
protected:
    void SetUp() override {
        FpAlg_Init(5);
        probe = make_template(SyntheticPrint(7).capture(128, 128));
        stored = make_template(SyntheticPrint(7).capture(131, 126));
        ASSERT_GT(score(stored, probe), FPALG_MATCH_THRESHOLD);
    }
    // The stored template, damaged, must score 0 and refuse to merge.
    void expect_rejected(const Bytes &bad) {
        EXPECT_EQ(score(bad, probe), 0);
        EXPECT_EQ(score(probe, bad), 0);
        Bytes out;
        EXPECT_NE(merge(bad, probe, out), 0);
        EXPECT_NE(merge(probe, bad, out), 0);
    }
    Bytes probe, stored;
};

TEST_F(TemplateFormat, EncodeDecodeRoundTripKeepsEveryField) {
    fpalg::Template t;
    ASSERT_TRUE(fpalg::decode_template(stored.data(), t));
    t.views[0].hits = 7;
    t.views[0].frame = 0;
    t.views[0].pose_angle_deci = -123;
    t.views[0].pose_ty_eighths = 77;
    t.views[0].pose_tx_eighths = -300;
    t.renewals = 3;
    Bytes again(FPALG_TEMPLATE_SIZE);
    fpalg::encode_template(t, again.data());
    fpalg::Template u;
    ASSERT_TRUE(fpalg::decode_template(again.data(), u));
    EXPECT_EQ(u.view_count, t.view_count);
    EXPECT_EQ(u.renewals, 3);
    EXPECT_EQ(u.views[0].level, t.views[0].level);
    EXPECT_EQ(u.views[0].mask, t.views[0].mask);
    EXPECT_EQ(u.views[0].hits, 7);
    EXPECT_EQ(u.views[0].pose_angle_deci, -123);
    EXPECT_EQ(u.views[0].pose_ty_eighths, 77);
    EXPECT_EQ(u.views[0].pose_tx_eighths, -300);
    EXPECT_EQ(u.views[0].ambiguity, t.views[0].ambiguity);
}

TEST_F(TemplateFormat, AnyFlippedBitIsCaughtByTheChecksum) {
    for (std::size_t at : {std::size_t{40}, std::size_t{5000}, std::size_t{FPALG_TEMPLATE_SIZE - 1}}) {
        Bytes bad = stored;
        bad[at] ^= 0x10;
        expect_rejected(bad);
    }
}

TEST_F(TemplateFormat, OtherVersionMagicOrHeaderIsRefused) {
    Bytes bad = stored;
    bad[4] = 2;  // version 2
    expect_rejected(bad);
    bad = stored;
    bad[0] ^= 0xFF;  // magic
    expect_rejected(bad);
    bad = stored;
    bad[6] = 33;  // header size
    expect_rejected(bad);
}

TEST_F(TemplateFormat, ZerosRandomBytesAndTruncatedFilesScoreZero) {
    expect_rejected(Bytes(FPALG_TEMPLATE_SIZE, 0));
    std::mt19937 rng(1);
    Bytes noise(FPALG_TEMPLATE_SIZE);
    for (auto &b : noise) b = static_cast<std::uint8_t>(rng());
    expect_rejected(noise);
    // A file cut short: the daemon's buffer keeps zeros after the data read.
    Bytes cut = stored;
    std::fill(cut.begin() + 1000, cut.end(), 0);
    expect_rejected(cut);
}

// Fields behind a valid checksum are still checked: a template written by a
// buggy or hostile tool must not steer the matcher out of bounds.
TEST_F(TemplateFormat, ImpossibleFieldsWithValidChecksumAreRefused) {
    fpalg::Template t;
    ASSERT_TRUE(fpalg::decode_template(stored.data(), t));
    const auto reencode = [&](auto change) {
        fpalg::Template c = t;
        change(c);
        Bytes b(FPALG_TEMPLATE_SIZE);
        fpalg::encode_template(c, b.data());
        return b;
    };
    expect_rejected(reencode([](fpalg::Template &c) { c.views[0].frame = fpalg::params::kMaxViews; }));
    expect_rejected(reencode([](fpalg::Template &c) { c.views[0].pose_tx_eighths = 30000; }));
    expect_rejected(reencode([](fpalg::Template &c) { c.views[0].mask.fill(0); }));
    expect_rejected(reencode([](fpalg::Template &c) { c.view_count = 0; }));
    Bytes many = stored;
    many[8] = fpalg::params::kMaxViews + 1;
    expect_rejected(many);
}

TEST_F(TemplateFormat, MatchingNeverWritesIntoEitherTemplate) {
    const Bytes s0 = stored, p0 = probe;
    score(stored, probe);
    EXPECT_EQ(stored, s0);
    EXPECT_EQ(probe, p0);
}

}  // namespace

// Stages whose faults would not crash anything, only cost accuracy quietly:
// the FFT behind the alignment search, the minutiae check after it, the
// mosaic that enrollment builds, the learned stage's weights and the terms
// it reads, the checkpoints a debugging sink reads, and the cache of stored
// views' spectra.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <string>

#include "coarse_align.h"
#include "debug_sink.h"
#include "fft.h"
#include "flow_agreement.h"
#include "fpalg_test_util.h"
#include "learned_stage.h"
#include "match.h"
#include "minutiae.h"
#include "spectrum_cache.h"
#include "template_format.h"
#include "verify.h"
#include "view_image.h"

using namespace fpalg_test;

namespace {

constexpr int N = fpalg::params::kFftSide;

std::unique_ptr<fpalg::Spectrum> noise_image(int x0, int x1) {
    auto s = std::make_unique<fpalg::Spectrum>();
    unsigned r = 7;
    for (int y = 0; y < N; ++y)
        for (int x = x0; x < x1; ++x) {
            r = r * 1103515245u + 12345u;
            s->re[y * N + x] = static_cast<float>((r >> 8) % 2000) / 1000.0f - 1.0f;
        }
    return s;
}

TEST(Fft, ForwardMatchesADirectTransformAndTheInverseUndoesIt) {
    const auto image = noise_image(0, N);
    auto f = std::make_unique<fpalg::Spectrum>(*image);
    fpalg::fft2d(*f, false);
    // Spot checks against the definition; the output is stored transposed.
    for (int fy = 0; fy < N; fy += 9)
        for (int fx = 0; fx < N; fx += 7) {
            std::complex<double> sum = 0;
            for (int y = 0; y < N; ++y)
                for (int x = 0; x < N; ++x)
                    sum +=
                        static_cast<double>(image->re[y * N + x]) * std::polar(1.0, -2 * M_PI * (fy * y + fx * x) / N);
            const int i = fx * N + fy;
            EXPECT_NEAR(f->re[i], sum.real(), 2e-3) << fy << "," << fx;
            EXPECT_NEAR(f->im[i], sum.imag(), 2e-3) << fy << "," << fx;
        }
    fpalg::fft2d(*f, true);
    for (int i = 0; i < N * N; i += 13) EXPECT_NEAR(f->re[i] / (N * N), image->re[i], 1e-5);
}

TEST(Fft, LeavingOutAllZeroColumnsChangesNothing) {
    // Columns 8..55 hold the image, as in the alignment search.
    const auto image = noise_image(8, 56);
    auto all = std::make_unique<fpalg::Spectrum>(*image), some = std::make_unique<fpalg::Spectrum>(*image);
    fpalg::fft2d(*all, false);
    fpalg::fft2d(*some, false, 0x7Eu);
    EXPECT_EQ(all->re, some->re);
    EXPECT_EQ(all->im, some->im);
    // The same from rows written in digit-reversed order, both ways.
    for (const bool inverse : {false, true}) {
        auto reversed = std::make_unique<fpalg::Spectrum>(), out = std::make_unique<fpalg::Spectrum>();
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                reversed->re[fpalg::fft_input_row(y) * N + x] = image->re[y * N + x];
                reversed->im[fpalg::fft_input_row(y) * N + x] = image->re[(N - 1 - y) * N + x];
            }
        auto direct = std::make_unique<fpalg::Spectrum>(*image);
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) direct->im[y * N + x] = image->re[(N - 1 - y) * N + x];
        fpalg::fft2d(*direct, inverse, 0x7Eu);
        fpalg::fft2d_from_reversed(*reversed, *out, inverse, 0x7Eu);
        EXPECT_EQ(direct->re, out->re);
        EXPECT_EQ(direct->im, out->im);
    }
}

// Straight ridges 9 px apart running top to bottom, with `endings` phase
// singularities (each one ridge that ends or forks) at the given places.
std::unique_ptr<fpalg::RidgeView> ridges(std::initializer_list<std::pair<double, double>> endings) {
    auto r = std::make_unique<fpalg::RidgeView>();
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) {
            double phase = x / 9.0;
            for (const auto &[ey, ex] : endings) phase += std::atan2(y - ey, x - ex) / (2 * M_PI);
            r->value[y * 96 + x] = static_cast<float>(1.5 * std::cos(2 * M_PI * phase));
            r->weight[y * 96 + x] = 1.0f;
        }
    return r;
}

TEST(Minutiae, ParallelRidgesHaveNone) {
    const auto flow = ridges({});
    const fpalg::MinutiaeAgreement m = fpalg::pair_minutiae(*flow, *flow);
    EXPECT_EQ(m.stored, 0);
    EXPECT_EQ(m.probe, 0);
}

TEST(Minutiae, TheSameEndingPairsAndAMovedOneDoesNot) {
    const auto here = ridges({{48, 48}}), nearly = ridges({{48.5, 48.5}}), elsewhere = ridges({{28, 70}});
    const fpalg::MinutiaeAgreement same = fpalg::pair_minutiae(*here, *nearly);
    ASSERT_EQ(same.stored, 1);
    ASSERT_EQ(same.probe, 1);
    EXPECT_EQ(same.paired, 1);
    const fpalg::MinutiaeAgreement moved = fpalg::pair_minutiae(*here, *elsewhere);
    ASSERT_EQ(moved.probe, 1);
    EXPECT_EQ(moved.paired, 0);
}

TEST(Minutiae, OnlyTheAreaValidInBothCounts) {
    auto masked = ridges({{48, 48}});
    const auto full = ridges({{48, 48}});
    for (int i = 0; i < 96 * 96; ++i)
        if (i % 96 < 60) masked->weight[i] = 0.0f;  // the ending lies outside
    const fpalg::MinutiaeAgreement m = fpalg::pair_minutiae(*full, *masked);
    EXPECT_EQ(m.stored, 0);
    EXPECT_EQ(m.probe, 0);
}

TEST(Correlation, ShiftsThatLeaveNothingInCommonCompareNothing) {
    // Found by fuzzing: a shift past the image edge once formed row pointers
    // beyond the image (the sanitizer build of this test catches a relapse).
    const auto a = ridges({{48, 48}});
    for (const auto &[dy, dx] : {std::pair{0, 96}, {0, 130}, {-96, 0}, {120, -120}, {95, 95}}) {
        int n = -1;
        const float r = fpalg::overlap_ncc(*a, *a, dy, dx, n);
        EXPECT_LE(n, 1) << dy << "," << dx;
        EXPECT_LE(r, 1.0f);
    }
}

// Many shifts of one pair correlate on prepared squares and masks, and a
// row's last pixels as one masked vector: every sum must still be the one
// a single correlation gives, bit for bit, at every width and at the edges.
TEST(Correlation, APreparedPairGivesExactlyTheSingleCorrelations) {
    auto a = std::make_unique<fpalg::RidgeView>(), b = std::make_unique<fpalg::RidgeView>();
    unsigned r = 11;
    for (fpalg::RidgeView *v : {a.get(), b.get()})
        for (int i = 0; i < fpalg::params::kPixels; ++i) {
            r = r * 1103515245u + 12345u;
            const bool on = (r >> 9) % 5 != 0;
            v->weight[i] = on ? 1.0f : 0.0f;
            v->value[i] = on ? static_cast<float>((r >> 12) % 2001) / 1000.0f - 1.0f : 0.0f;
        }
    const fpalg::PairedRidges pair(*a, *b);
    for (int dy = -9; dy <= 9; dy += 3)
        for (int dx = -11; dx <= 11; ++dx)
            for (const auto &[x0, x1] : {std::pair{0, 96}, {16, 32}, {80, 96}, {3, 10}, {0, 5}}) {
                int n1 = -1, n2 = -2;
                const float c1 = fpalg::region_ncc(*a, *b, dy, dx, 10, 96, x0, x1, n1);
                const float c2 = pair.region_ncc(dy, dx, 10, 96, x0, x1, n2);
                ASSERT_EQ(n1, n2) << dy << "," << dx << " " << x0;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(c1), std::bit_cast<std::uint32_t>(c2)) << dy << "," << dx;
            }
}

TEST(Mosaic, ViewsThatArriveApartJoinOneFrameOnceACaptureBridgesThem) {
    fpalg::Template t;
    const SyntheticPrint print{5};
    // Left and right do not overlap; the middle one overlaps both.
    const Bytes left = make_template(print.capture(128, 80)), right = make_template(print.capture(128, 176));
    const Bytes middle = make_template(print.capture(128, 128));
    Bytes two, three;
    ASSERT_EQ(merge(left, right, two), 0);
    ASSERT_TRUE(fpalg::decode_template(two.data(), t));
    ASSERT_EQ(t.view_count, 2);
    EXPECT_NE(t.views[0].frame, t.views[1].frame);
    ASSERT_EQ(merge(two, middle, three), 0);
    ASSERT_TRUE(fpalg::decode_template(three.data(), t));
    ASSERT_EQ(t.view_count, 3);
    EXPECT_EQ(t.views[0].frame, t.views[1].frame);
    EXPECT_EQ(t.views[1].frame, t.views[2].frame);
    // The right capture lies 96 px to the right of the left one in the frame.
    EXPECT_NEAR((t.views[1].pose_tx_eighths - t.views[0].pose_tx_eighths) / 8.0, 96.0, 1.5);
    EXPECT_NEAR((t.views[1].pose_ty_eighths - t.views[0].pose_ty_eighths) / 8.0, 0.0, 1.5);
}

// Records which checkpoints fired, in order (a letter per stage).
class StageLog : public fpalg::debug::Sink {
public:
    std::string seen;
    void on_band_pass(const fpalg::RidgeImage &) override { seen += 'b'; }
    void on_levels(const fpalg::View &) override { seen += 'l'; }
    void on_mask(const fpalg::View &, int) override { seen += 'k'; }
    void on_view(const fpalg::View &) override { seen += 'v'; }
    void on_candidate(const fpalg::Candidate &) override { seen += 'c'; }
    void on_alignment(const fpalg::ScoreParts &) override { seen += 'a'; }
    void on_union(const fpalg::RidgeView &, const fpalg::ScoreParts &) override { seen += 'u'; }
    void on_elastic(const fpalg::ElasticFit &) override { seen += 'e'; }
    void on_minutiae(const fpalg::MinutiaeAgreement &, const fpalg::MinutiaeLayout &) override { seen += 'm'; }
};

// The tool draws what the checkpoints report; a checkpoint that computed
// anything for its listener would make the tool show another matcher.
// The weights as bench/fpalg_learn.py wrote them give what the script
// computes for the same terms (regenerating the weights re-derives the
// expected value with the script's formula, in double precision).
TEST(LearnedStage, WeighsAFixedPairAsTrained) {
    for (double x : {1e-3, 0.5, 1.0, 2.7, 77.0}) EXPECT_NEAR(fpalg::fixed_log(x), std::log(x), 1e-13);
    for (double x : {-20.0, -0.3, 0.0, 1.0, 9.5}) EXPECT_NEAR(fpalg::fixed_exp(x) / std::exp(x), 1.0, 1e-13);
    fpalg::ScoreParts p;
    p.hand_raw = 20.0f;
    p.ambiguity = 0.3f;
    p.block_ncc = 0.6f;
    p.rigid_block_ncc = 0.55f;
    p.ncc = 0.4f;
    p.blocks = 20;
    p.good_blocks = 12;
    p.peak = 0.2f;
    p.minutiae_stored = 10;
    p.minutiae_probe = 12;
    p.minutiae_paired = 4;
    p.detail_checked = true;
    p.flow_cells = 18;
    p.flow_direction = 0.8f;
    p.flow_spacing = 0.1f;
    p.runner_up_raw = 3.0f;
    p.rigid_raw = 25.0f;
    p.union_px = 1000;
    p.overlap_px = 5000;
    EXPECT_EQ(fpalg::learned_evidence(p), 0.0f) << "a pair that never reached the elastic fit";
    p.staged = true;
    EXPECT_NEAR(fpalg::learned_evidence(p), 11.0596f, 2e-3f);
}

// Ridges compared with themselves run the same way at the same spacing;
// turned a quarter, they run across.
TEST(FlowAgreement, SameRidgesAgreeAndCrossedOnesDoNot) {
    auto a = std::make_unique<fpalg::RidgeView>(), b = std::make_unique<fpalg::RidgeView>();
    for (int y = 0; y < fpalg::params::kSide; ++y)
        for (int x = 0; x < fpalg::params::kSide; ++x) {
            const int i = y * fpalg::params::kSide + x;
            a->value[i] = std::sin(0.8f * x + 0.1f * y);
            b->value[i] = std::sin(0.8f * y - 0.1f * x);
            a->weight[i] = b->weight[i] = 1.0f;
        }
    const fpalg::FlowAgreement same = fpalg::flow_agreement(*a, *a), crossed = fpalg::flow_agreement(*a, *b);
    EXPECT_EQ(same.cells, 36);
    EXPECT_NEAR(same.direction, 1.0f, 1e-5f);
    EXPECT_NEAR(same.spacing, 0.0f, 1e-5f);
    EXPECT_LT(crossed.direction, -0.9f);
    EXPECT_LT(crossed.spacing, 0.05f);
}

TEST(Checkpoints, EveryStageReportsInOrderAndListeningChangesNothing) {
    const SyntheticPrint print{3};
    const auto stored_image = print.capture(128, 128), probe_image = print.capture(134, 122, 9.0);
    const Bytes stored = make_template(stored_image), probe = make_template(probe_image);
    fpalg::Template s, p;
    ASSERT_TRUE(fpalg::decode_template(stored.data(), s));
    ASSERT_TRUE(fpalg::decode_template(probe.data(), p));
    const fpalg::ScoreParts quiet = fpalg::match_templates(s, p);
    ASSERT_GT(quiet.score, FPALG_MATCH_THRESHOLD);

    StageLog log;
    fpalg::debug::Scope scope(&log);
    EXPECT_EQ(make_template(stored_image), stored);
    EXPECT_EQ(log.seen, "blkv");
    log.seen.clear();
    const fpalg::ScoreParts heard = fpalg::match_templates(s, p);
    EXPECT_EQ(log.seen,
              std::string(fpalg::params::kCandidates, 'c') + std::string(fpalg::params::kVerified, 'a') + "uem");
    EXPECT_EQ(heard.raw, quiet.raw);
    EXPECT_EQ(heard.score, quiet.score);
    EXPECT_EQ(heard.minutiae_paired, quiet.minutiae_paired);
}

// A template changed in one ridge level (renewed, or written by someone
// else) must be compared with its own spectrum, never the one kept for the
// bytes it had before.
TEST(SpectrumCache, AViewOneLevelApartIsNeverAnsweredFromTheCache) {
    const SyntheticPrint print{4};
    const Bytes stored = make_template(print.capture(128, 128)), probe = make_template(print.capture(132, 124, 5.0));
    auto t = std::make_unique<fpalg::Template>();
    ASSERT_TRUE(fpalg::decode_template(stored.data(), *t));
    score(stored, probe);
    auto kept = std::make_unique<fpalg::BandSpectrum>();
    ASSERT_TRUE(fpalg::find_spectrum(fpalg::spectrum_key(t->views[0]), *kept));

    fpalg::View &v = t->views[0];
    int i = 0;
    while (
        !v.mask[(i / 96 / fpalg::params::kMaskBlock) * fpalg::params::kMaskGrid + i % 96 / fpalg::params::kMaskBlock])
        ++i;
    v.level[i] ^= 1;
    Bytes changed(stored.size());
    fpalg::encode_template(*t, changed.data());
    EXPECT_FALSE(fpalg::find_spectrum(fpalg::spectrum_key(v), *kept));
    score(changed, probe);
    ASSERT_TRUE(fpalg::find_spectrum(fpalg::spectrum_key(v), *kept));
    // What was kept is what the changed view gives afresh.
    auto ridges = std::make_unique<fpalg::RidgeView>();
    auto full = std::make_unique<fpalg::Spectrum>();
    auto band = std::make_unique<fpalg::BandSpectrum>();
    fpalg::decode_ridges(v, *ridges);
    fpalg::phase_spectrum(*ridges, *full);
    fpalg::keep_band(*full, *band);
    EXPECT_EQ(kept->re, band->re);
    EXPECT_EQ(kept->im, band->im);
    EXPECT_EQ(kept->bins, band->bins);
}

// A store with more views than the cache holds, compared in the same order
// on every touch, must still hit for most of them (plain LRU never would);
// a band that is not conjugate symmetric comes back as it was kept.
TEST(SpectrumCache, ACyclicScanBeyondItsSizeStillHits) {
    constexpr std::size_t kViews = fpalg::kSpectrumCacheEntries * 5 / 4;
    auto band = std::make_unique<fpalg::BandSpectrum>(), back = std::make_unique<fpalg::BandSpectrum>();
    for (std::size_t i = 0; i < band->re.size(); ++i) {
        band->re[i] = static_cast<float>(i % 7) - 3.0f;
        band->im[i] = static_cast<float>(i % 5) - 2.0f;
    }
    const auto key = [](std::size_t i) { return "cyclic scan " + std::to_string(i); };
    std::size_t hits = 0;
    for (int pass = 0; pass < 3; ++pass)
        for (std::size_t i = 0; i < kViews; ++i) {
            band->bins = static_cast<int>(i);
            if (!fpalg::find_spectrum(key(i), *back)) {
                fpalg::keep_spectrum(key(i), *band);
                continue;
            }
            hits += pass == 2;
            ASSERT_EQ(back->bins, band->bins);
            ASSERT_EQ(back->re, band->re);
            ASSERT_EQ(back->im, band->im);
        }
    EXPECT_GE(hits, fpalg::kSpectrumCacheEntries * 3 / 4);
    EXPECT_EQ(fpalg::cached_spectra(), fpalg::kSpectrumCacheEntries);
}

}  // namespace

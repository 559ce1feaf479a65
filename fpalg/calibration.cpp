#include "calibration.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "params.h"

namespace fpalg {
namespace {

// Piecewise-linear scale through knots fitted on the impostor tail
// (bench/fpalg_tailfit.py): the raw evidence of 1 impostor in 1,000 scores
// 30, the upper bound of the level at most 2 in a million impostors reach,
// times a margin, scores 46, twice that scores 100.
struct Knot {
    float raw, score;
};
constexpr Knot kKnots[] = {
    {0.0f, 0.0f},
    {params::kRawFloor, 1.0f},
    {params::kRaw30, 30.0f},
    {params::kRawThreshold, static_cast<float>(params::kMatchThreshold + 1)},
    {params::kRawTop, 100.0f},
};

}  // namespace

float raw_evidence(const ScoreParts &p) {
    if (p.overlap_px < params::kMinOverlapPx) return 0.0f;
    // Block agreement beyond what the images' own self-similarity explains.
    const float discount = params::kAmbiguityWeight * p.ambiguity;
    const float b = std::max(0.0f, p.block_ncc - discount) / (1.0f - discount);
    // A sharp coarse peak means the whole overlap agrees at one rigid pose,
    // which look-alike ridge flow of another finger rarely gives.
    const float sharp = 1.0f + params::kPeakWeight * p.peak;
    // Blocks that each slide a pixel find ridge phase anywhere in parallel
    // flow; the same finger also agrees over the whole overlap at one pose.
    // Only the share of the block agreement that holds rigidly counts.
    const float rigid = p.block_ncc > 0.0f ? std::clamp(p.ncc / p.block_ncc, 0.0f, 1.0f) : 0.0f;
    return b * b * b * std::sqrt(static_cast<float>(p.blocks)) * sharp * sharp * rigid * 10.0f;
}

float detail_factor(const ScoreParts &p) {
    const float full = params::kMinutiaePairsForFull + 1.0f;
    return std::sqrt(std::min(1.0f, (p.minutiae_paired + 1.0f) / full));
}

int calibrated_score(float raw) {
    if (!(raw > kKnots[1].raw)) return 0;
    for (std::size_t i = 1; i + 1 < std::size(kKnots); ++i) {
        const Knot &a = kKnots[i], &b = kKnots[i + 1];
        if (raw < b.raw)
            return static_cast<int>(std::floor(a.score + (b.score - a.score) * (raw - a.raw) / (b.raw - a.raw)));
    }
    return 100;
}

}  // namespace fpalg

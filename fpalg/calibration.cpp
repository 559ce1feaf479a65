#include "calibration.h"

#include <algorithm>
#include <cmath>

#include "params.h"

namespace fpalg {
namespace {
// Raw evidence at which the score reaches 1, the match threshold (46) and 100.
constexpr float kRawFloor = 4.0f;
constexpr float kRawThreshold = 24.0f;
constexpr float kRawTop = 45.0f;
}  // namespace

float raw_evidence(const ScoreParts &p) {
    if (p.overlap_px < params::kMinOverlapPx) return 0.0f;
    // Block agreement beyond what the images' own self-similarity explains.
    const float discount = params::kAmbiguityWeight * p.ambiguity;
    const float b = std::max(0.0f, p.block_ncc - discount) / (1.0f - discount);
    return b * b * b * std::sqrt(static_cast<float>(p.blocks)) * (1.0f + params::kPeakWeight * p.peak) * 10.0f;
}

int calibrated_score(float raw) {
    const float t = static_cast<float>(params::kMatchThreshold + 1);
    float s;
    if (raw <= kRawFloor)
        s = 0.0f;
    else if (raw < kRawThreshold)
        s = 1.0f + (t - 1.0f) * (raw - kRawFloor) / (kRawThreshold - kRawFloor);
    else
        s = t + (100.0f - t) * (raw - kRawThreshold) / (kRawTop - kRawThreshold);
    return static_cast<int>(std::clamp(std::floor(s), 0.0f, 100.0f));
}

}  // namespace fpalg

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
    if (p.overlap_px < params::kMinOverlapPx || p.ncc <= 0.0f) return 0.0f;
    return p.ncc * std::sqrt(static_cast<float>(p.overlap_px));
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

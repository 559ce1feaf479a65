#include "ambiguity.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "verify.h"

namespace fpalg {

std::uint8_t self_similarity(const View &view) {
    auto ridges = std::make_unique<RidgeView>();
    decode_ridges(view, *ridges);
    float best = 0.0f;
    const int lo = params::kAmbiguityMinShift, hi = params::kAmbiguityMaxShift;
    for (int dy = -hi; dy <= hi; dy += params::kAmbiguityStep)
        for (int dx = 0; dx <= hi; dx += params::kAmbiguityStep) {
            // (dy, dx) and (-dy, -dx) give the same correlation.
            if (std::max(std::abs(dy), dx) < lo || (dx == 0 && dy < 0)) continue;
            int n = 0;
            const float c = overlap_ncc(*ridges, *ridges, dy, dx, n);
            if (n >= params::kAmbiguityMinOverlap) best = std::max(best, c);
        }
    return static_cast<std::uint8_t>(std::lround(std::clamp(best, 0.0f, 1.0f) * 255.0f));
}

}  // namespace fpalg

// A small fixed-size 2-D complex FFT (64 x 64) for the phase-only
// correlation. Only alignment uses it; no stored byte depends on it.
#pragma once

#include <array>

#include "params.h"

namespace fpalg {

inline constexpr int kFftPixels = params::kFftSide * params::kFftSide;

struct Spectrum {
    std::array<float, kFftPixels> re{};
    std::array<float, kFftPixels> im{};
    int bins = 0;  // non-zero bins of a phase-only spectrum
};

// In place. The forward transform leaves the spectrum transposed (index
// fx * 64 + fy) and the unscaled inverse expects it so, which saves a
// transpose each way; pointwise products and symmetric masks don't care.
// The first pass runs along the first index (rows of an image, fx of a
// spectrum) for the columns in `first_pass_groups` (bit g: columns 8g ..
// 8g+7); the caller clears a bit only when those columns are all zero.
inline constexpr unsigned kAllGroups = 0xFFu;
void fft2d(Spectrum &s, bool inverse, unsigned first_pass_groups = kAllGroups);

}  // namespace fpalg

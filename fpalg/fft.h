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

// Row i of an input goes to row fft_input_row(i) before the first pass
// (base-4 digit reversal); a caller that writes its input there itself
// saves the transform that pass over the data.
constexpr int fft_input_row(int i) {
    int r = 0;
    for (int d = 0; d < 3; ++d) r = r << 2 | (i >> (2 * d) & 3);
    return r;
}

// The same transform as fft2d, from `in` (rows already at fft_input_row,
// destroyed) into `out`, with the transpose between the passes done out of
// place and the second pass's digit reversal folded into it. Only the
// lanes of the second pass in `second_pass_groups` (bit g: first-pass
// frequencies 8g .. 8g+7) are transformed; the others hold no meaningful
// values, for a caller that never reads those frequencies.
void fft2d_from_reversed(Spectrum &in, Spectrum &out, bool inverse, unsigned first_pass_groups,
                         unsigned second_pass_groups = kAllGroups);

}  // namespace fpalg

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

// fft2d_from_reversed without the first pass's first radix-4 stage, for a
// caller that has done that stage itself with unit_butterfly while writing
// the input (rows at fft_input_row, as the stage leaves them).
void fft2d_after_first_stage(Spectrum &in, Spectrum &out, bool inverse, unsigned first_pass_groups,
                             unsigned second_pass_groups = kAllGroups);

// The first stage's butterfly (all its twiddles are 1) on four rows x0 ..
// x3 (those at fft_input_row positions 4m .. 4m + 3), lane by lane exactly
// as the transform computes it; V is float or a vector of floats.
template <bool kInverse, class V>
[[gnu::always_inline]] inline void unit_butterfly(V &r0, V &i0, V &r1, V &i1, V &r2, V &i2, V &r3, V &i3) {
    const V sr = r0 + r2, si = i0 + i2, tr = r0 - r2, ti = i0 - i2;
    const V ur = r1 + r3, ui = i1 + i3;
    // (b - d) times -i (forward) or +i (inverse)
    const V vr = kInverse ? -(i1 - i3) : i1 - i3, vi = kInverse ? r1 - r3 : -(r1 - r3);
    r0 = sr + ur;
    i0 = si + ui;
    r1 = tr + vr;
    i1 = ti + vi;
    r2 = sr - ur;
    i2 = si - ui;
    r3 = tr - vr;
    i3 = ti - vi;
}

}  // namespace fpalg

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

// fft2d_from_reversed whose first pass starts at its stage of length
// `first_len` (16 or 64), for a caller that has done the stages before
// (unit_butterfly, first_two_stages) while writing the input.
void fft2d_from_stage(Spectrum &in, Spectrum &out, bool inverse, int first_len, unsigned first_pass_groups,
                      unsigned second_pass_groups = kAllGroups);

// The stage of length 4's butterfly (its twiddles are all 1) on the rows at
// fft_input_row positions 4m .. 4m + 3, lane by lane exactly as the
// transform computes it; V is float or a vector of floats. So is the stage
// of length 16's for k = 0 on rows 16b, 16b + 4, 16b + 8, 16b + 12. (The
// table's e^0 is exactly 1 + 0i: its series gives cos 0 = 1 far within a
// float's step and sin 0 = 0.)
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

// A butterfly whose inputs 1 .. 3 are first multiplied by w[0] + i w[1],
// w[2] + i w[3], w[4] + i w[5].
template <bool kInverse, class V>
[[gnu::always_inline]] inline void twiddled_butterfly(V &r0, V &i0, V &r1, V &i1, V &r2, V &i2, V &r3, V &i3,
                                                      const float *w) {
    const V br = r1 * w[0] - i1 * w[1], bi = r1 * w[1] + i1 * w[0];
    const V cr = r2 * w[2] - i2 * w[3], ci = r2 * w[3] + i2 * w[2];
    const V dr = r3 * w[4] - i3 * w[5], di = r3 * w[5] + i3 * w[4];
    r1 = br, i1 = bi, r2 = cr, i2 = ci, r3 = dr, i3 = di;
    unit_butterfly<kInverse>(r0, i0, r1, i1, r2, i2, r3, i3);
}

// The twiddles of the stage of length 16 for k = 1 .. 3 (w[k], as
// twiddled_butterfly takes them), forward or inverse.
struct Stage16 {
    float w[4][6];
};
const Stage16 &stage16_twiddles(bool inverse);

// Eight lanes of the stages of length 4 and 16 on 16 rows in registers
// (those at positions 16b .. 16b + 15): one pass over the data for two,
// where wide_registers() says they fit.
using FftLanes = float __attribute__((vector_size(8 * sizeof(float))));
template <bool kInverse>
[[gnu::always_inline]] inline void first_two_stages(FftLanes (&r)[16], FftLanes (&i)[16], const Stage16 &t) {
#pragma GCC unroll 4
    for (int m = 0; m < 16; m += 4)
        unit_butterfly<kInverse>(r[m], i[m], r[m + 1], i[m + 1], r[m + 2], i[m + 2], r[m + 3], i[m + 3]);
    unit_butterfly<kInverse>(r[0], i[0], r[4], i[4], r[8], i[8], r[12], i[12]);
#pragma GCC unroll 3
    for (int k = 1; k < 4; ++k)
        twiddled_butterfly<kInverse>(r[k], i[k], r[k + 4], i[k + 4], r[k + 8], i[k + 8], r[k + 12], i[k + 12],
                                     t.w[k]);
}

}  // namespace fpalg

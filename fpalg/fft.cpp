#include "fft.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

#include "fixed_trig.h"
#include "simd_clones.h"

namespace fpalg {
namespace {

constexpr int N = params::kFftSide;
constexpr int kGroup = 8;   // lanes skipped together when known to be zero
constexpr int kDigits = 3;  // N = 4^3: three radix-4 stages
static_assert(1 << (2 * kDigits) == N);
static_assert(fft_input_row(1) == 16 && fft_input_row(6) == 36 && fft_input_row(63) == 63);

struct Tables {
    int reverse[N];          // base-4 digit reversal
    float cos_[N], sin_[N];  // e^(-2 pi i k / N)
    bool unit = false;       // e^0 is exactly 1 + 0i
    Tables() {
        for (int i = 0; i < N; ++i) {
            int r = 0;
            for (int d = 0; d < kDigits; ++d) r |= ((i >> (2 * d)) & 3) << (2 * (kDigits - 1 - d));
            reverse[i] = r;
        }
        for (int k = 0; k < N; ++k) {
            const double a = -2.0 * std::numbers::pi * k / N;
            cos_[k] = static_cast<float>(fixed_cos(a));
            sin_[k] = static_cast<float>(fixed_sin(a));
        }
        unit = cos_[0] == 1.0f && sin_[0] == 0.0f;
    }
};

const Tables &tables() {
    static const Tables t;
    return t;
}

struct Stage16Tables {
    Stage16 forward, inverse;
    Stage16Tables() {
        const Tables &t = tables();
        for (int k = 1; k < 4; ++k) {
            const int e1 = k * (N / 16), e2 = 2 * k * (N / 16), e3 = 3 * k * (N / 16);
            // As fft_columns_ makes them: the sine times s = +1 or -1.
            for (const float s : {1.0f, -1.0f}) {
                float *w = (s > 0 ? forward : inverse).w[k];
                w[0] = t.cos_[e1], w[1] = s * t.sin_[e1], w[2] = t.cos_[e2];
                w[3] = s * t.sin_[e2], w[4] = t.cos_[e3], w[5] = s * t.sin_[e3];
            }
        }
    }
};

// One radix-4 butterfly on eight lanes from j0. With kUnit the twiddles
// are 1 + 0i: multiplying by them changes nothing but the sign of a zero,
// which no sum or product that is not zero depends on, so it is skipped.
// Multiplying by s = +1 or -1 (forward or inverse) is exact, as is the
// negation it is written as here.
template <bool kUnit, bool kInverse>
[[gnu::always_inline]] inline void butterflies(float *r0, float *i0, float *r1, float *i1, float *r2, float *i2,
                                               float *r3, float *i3, const float *w, int j0) {
    const float w1r = w[0], w1i = w[1], w2r = w[2], w2i = w[3], w3r = w[4], w3i = w[5];
    // The eight rows are disjoint; tell the vectoriser so.
    FPALG_DISJOINT
    for (int j = j0; j < j0 + kGroup; ++j) {
        const float ar = r0[j], ai = i0[j];
        float br = r1[j], bi = i1[j], cr = r2[j], ci = i2[j], dr = r3[j], di = i3[j];
        if (!kUnit) {
            br = r1[j] * w1r - i1[j] * w1i, bi = r1[j] * w1i + i1[j] * w1r;
            cr = r2[j] * w2r - i2[j] * w2i, ci = r2[j] * w2i + i2[j] * w2r;
            dr = r3[j] * w3r - i3[j] * w3i, di = r3[j] * w3i + i3[j] * w3r;
        }
        const float sr = ar + cr, si = ai + ci, tr = ar - cr, ti = ai - ci;
        const float ur = br + dr, ui = bi + di;
        // (b - d) times -i (forward) or +i (inverse)
        const float vr = kInverse ? -(bi - di) : bi - di, vi = kInverse ? br - dr : -(br - dr);
        r0[j] = sr + ur;
        i0[j] = si + ui;
        r1[j] = tr + vr;
        i1[j] = ti + vi;
        r2[j] = sr - ur;
        i2[j] = si - ui;
        r3[j] = tr - vr;
        i3[j] = ti - vi;
    }
}

// The stages of length 4 and 16 on the 16 rows from `base`, eight lanes
// from j0.
template <bool kInverse>
[[gnu::always_inline]] inline void first_two_stages(float *re, float *im, int base, int j0, const Stage16 &w) {
    FftLanes r[16], i[16];
#pragma GCC unroll 16
    for (int q = 0; q < 16; ++q) {
        std::memcpy(&r[q], re + (base + q) * N + j0, sizeof(FftLanes));
        std::memcpy(&i[q], im + (base + q) * N + j0, sizeof(FftLanes));
    }
    first_two_stages<kInverse>(r, i, w);
#pragma GCC unroll 16
    for (int q = 0; q < 16; ++q) {
        std::memcpy(re + (base + q) * N + j0, &r[q], sizeof(FftLanes));
        std::memcpy(im + (base + q) * N + j0, &i[q], sizeof(FftLanes));
    }
}

// Radix-4 transform of N interleaved sequences at once: element i of
// sequence j sits at index i * N + j, so the inner loop runs over j and
// vectorises. Used on columns directly and on rows after a transpose.
// Radix 4 halves the passes over the data against radix 2, and the passes,
// not the arithmetic, are what the correlation search waits for.
// Only the lane groups set in `groups` (bit g: lanes 8g .. 8g+7) are
// transformed; the others must be all zero and stay so.
// From the stage of length `first_len` on (4 for the whole transform).
template <bool kInverse>
[[gnu::always_inline]] inline void fft_columns_(float *re, float *im, unsigned groups, bool reversed, int first_len) {
    constexpr bool inverse = kInverse;
    const Tables &t = tables();
    for (int i = 0; i < N && !reversed; ++i) {
        const int r = t.reverse[i];
        if (r > i)
            for (int j = 0; j < N; ++j) {
                std::swap(re[i * N + j], re[r * N + j]);
                std::swap(im[i * N + j], im[r * N + j]);
            }
    }
    // Multiplying by -i (forward) or +i (inverse): (x, y) -> (sy, -sx) with s = +1 or -1.
    const float s = inverse ? -1.0f : 1.0f;
    int len = first_len;
    if (len == 4 && t.unit && wide_registers()) {
        const Stage16 &w16 = stage16_twiddles(inverse);
        for (int base = 0; base < N; base += 16)
            for (int g = 0; g < N / kGroup; ++g)
                if ((groups >> g) & 1u) first_two_stages<kInverse>(re, im, base, g * kGroup, w16);
        len = 64;  // N, the last stage
    }
    for (; len <= N; len <<= 2) {
        const int q = len / 4, step = N / len;
        for (int start = 0; start < N; start += len)
            for (int k = 0; k < q; ++k) {
                const int e1 = k * step, e2 = 2 * k * step, e3 = 3 * k * step;
                const bool unit = k == 0 && t.unit;
                const float w[6] = {t.cos_[e1], s * t.sin_[e1], t.cos_[e2], s * t.sin_[e2], t.cos_[e3], s * t.sin_[e3]};
                float *r0 = re + (start + k) * N, *i0 = im + (start + k) * N;
                float *r1 = r0 + q * N, *i1 = i0 + q * N;
                float *r2 = r1 + q * N, *i2 = i1 + q * N;
                float *r3 = r2 + q * N, *i3 = i2 + q * N;
                for (int g = 0; g < N / kGroup; ++g) {
                    if (!((groups >> g) & 1u)) continue;
                    if (unit)
                        butterflies<true, kInverse>(r0, i0, r1, i1, r2, i2, r3, i3, w, g * kGroup);
                    else
                        butterflies<false, kInverse>(r0, i0, r1, i1, r2, i2, r3, i3, w, g * kGroup);
                }
            }
    }
}

FPALG_SIMD_CLONES void fft_columns(float *re, float *im, bool inverse, unsigned groups, bool reversed = false,
                                   int first_len = 4) {
    if (inverse)
        fft_columns_<true>(re, im, groups, reversed, first_len);
    else
        fft_columns_<false>(re, im, groups, reversed, first_len);
}

// In place, in 4 x 4 tiles held in registers: a scalar transpose's strided
// loads and stores cost as much as a pass of the transform.
using Quad = float __attribute__((vector_size(4 * sizeof(float))));

Quad load(const float *p) {
    Quad v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(float *p, Quad v) { std::memcpy(p, &v, sizeof v); }

// The 4 x 4 tile at `p` (rows N apart), transposed in registers.
struct Tile {
    Quad r[4];
    explicit Tile(const float *p) {
        const Quad a = load(p), b = load(p + N), c = load(p + 2 * N), d = load(p + 3 * N);
        const Quad ab0 = __builtin_shufflevector(a, b, 0, 4, 1, 5), ab1 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
        const Quad cd0 = __builtin_shufflevector(c, d, 0, 4, 1, 5), cd1 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
        r[0] = __builtin_shufflevector(ab0, cd0, 0, 1, 4, 5);
        r[1] = __builtin_shufflevector(ab0, cd0, 2, 3, 6, 7);
        r[2] = __builtin_shufflevector(ab1, cd1, 0, 1, 4, 5);
        r[3] = __builtin_shufflevector(ab1, cd1, 2, 3, 6, 7);
    }
    void put(float *p) const {
        for (int k = 0; k < 4; ++k) store(p + k * N, r[k]);
    }
};

FPALG_SIMD_CLONES void transpose(float *a) {
    for (int ty = 0; ty < N; ty += 4) {
        Tile(a + ty * N + ty).put(a + ty * N + ty);
        for (int tx = ty + 4; tx < N; tx += 4) {
            const Tile upper(a + ty * N + tx), lower(a + tx * N + ty);
            upper.put(a + tx * N + ty);
            lower.put(a + ty * N + tx);
        }
    }
}

constexpr FftLanes kZero{};

// The 8 x 8 tile at `p` (rows N apart), transposed in registers: pairs of
// rows interleaved, then pairs of pairs, then the halves of four rows.
struct Tile8 {
    FftLanes r[8];
    explicit Tile8(const float *p) {
        FftLanes a[8], t[8], u[8];
        for (int k = 0; k < 8; ++k) std::memcpy(&a[k], p + k * N, sizeof a[k]);
        for (int k = 0; k < 8; k += 2) {
            t[k] = __builtin_shufflevector(a[k], a[k + 1], 0, 8, 1, 9, 4, 12, 5, 13);
            t[k + 1] = __builtin_shufflevector(a[k], a[k + 1], 2, 10, 3, 11, 6, 14, 7, 15);
        }
        for (int k = 0; k < 8; k += 4)
            for (int h = 0; h < 2; ++h) {
                u[k + 2 * h] = __builtin_shufflevector(t[k + h], t[k + h + 2], 0, 1, 8, 9, 4, 5, 12, 13);
                u[k + 2 * h + 1] = __builtin_shufflevector(t[k + h], t[k + h + 2], 2, 3, 10, 11, 6, 7, 14, 15);
            }
        // u[k] (k < 4) holds columns k and k + 4 of rows 0 .. 3, u[k + 4] of rows 4 .. 7.
        for (int k = 0; k < 4; ++k) {
            r[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
            r[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
        }
    }
};

// Out of place: row fft_input_row(j) of `out` is column j of `in`, ready
// for the second pass without its digit reversal. Column j0 + k of an
// 8 x 8 tile lands 16 (k % 4) + 4 (k / 4) rows below row fft_input_row(j0).
// Columns of `in` outside `in_groups` are zero (the first pass's
// contract), so their rows are written without reading them; rows of `in`
// outside `out_groups` become lanes the second pass leaves out, and are
// not written at all.
FPALG_SIMD_CLONES void transpose_reversing(const float *in, float *out, unsigned in_groups, unsigned out_groups) {
    static_assert(fft_input_row(5) == fft_input_row(0) + 16 + 4 && kGroup == 8);
    for (int ty = 0; ty < N; ty += kGroup) {
        if (!((out_groups >> (ty / kGroup)) & 1u)) continue;
        for (int tx = 0; tx < N; tx += kGroup) {
            float *to = out + fft_input_row(tx) * N + ty;
            if (!((in_groups >> (tx / kGroup)) & 1u)) {
                for (int k = 0; k < kGroup; ++k) std::memcpy(to + (16 * (k % 4) + 4 * (k / 4)) * N, &kZero, sizeof kZero);
                continue;
            }
            const Tile8 t(in + ty * N + tx);
            for (int k = 0; k < kGroup; ++k) std::memcpy(to + (16 * (k % 4) + 4 * (k / 4)) * N, &t.r[k], sizeof t.r[k]);
        }
    }
}

}  // namespace

void fft2d(Spectrum &s, bool inverse, unsigned first_pass_groups) {
    fft_columns(s.re.data(), s.im.data(), inverse, first_pass_groups);
    transpose(s.re.data());
    transpose(s.im.data());
    fft_columns(s.re.data(), s.im.data(), inverse, kAllGroups);
}

void fft2d_from_reversed(Spectrum &in, Spectrum &out, bool inverse, unsigned first_pass_groups,
                         unsigned second_pass_groups) {
    fft_columns(in.re.data(), in.im.data(), inverse, first_pass_groups, true);
    transpose_reversing(in.re.data(), out.re.data(), first_pass_groups, second_pass_groups);
    transpose_reversing(in.im.data(), out.im.data(), first_pass_groups, second_pass_groups);
    fft_columns(out.re.data(), out.im.data(), inverse, second_pass_groups, true);
}

const Stage16 &stage16_twiddles(bool inverse) {
    static const Stage16Tables t;
    return inverse ? t.inverse : t.forward;
}

void fft2d_from_stage(Spectrum &in, Spectrum &out, bool inverse, int first_len, unsigned first_pass_groups,
                      unsigned second_pass_groups) {
    fft_columns(in.re.data(), in.im.data(), inverse, first_pass_groups, true, first_len);
    transpose_reversing(in.re.data(), out.re.data(), first_pass_groups, second_pass_groups);
    transpose_reversing(in.im.data(), out.im.data(), first_pass_groups, second_pass_groups);
    fft_columns(out.re.data(), out.im.data(), inverse, second_pass_groups, true);
}

}  // namespace fpalg

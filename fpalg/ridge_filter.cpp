#include "ridge_filter.h"

#include <algorithm>

namespace fpalg {
namespace {

using params::kSide;

template <typename T>
T at_clamped(const std::array<T, params::kPixels> &a, int y, int x) {
    y = std::clamp(y, 0, kSide - 1);
    x = std::clamp(x, 0, kSide - 1);
    return a[y * kSide + x];
}

// Rounded division for signed values, identical on every platform.
template <typename T>
T div_round(T v, T d) {
    return v >= 0 ? (v + d / 2) / d : -((-v + d / 2) / d);
}

// One separable pass of a box filter of radius r, edges extended.
template <typename T>
void box_pass(std::array<T, params::kPixels> &a, int r) {
    std::array<T, params::kPixels> tmp{};
    const T width = 2 * r + 1;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            T s = 0;
            for (int k = -r; k <= r; ++k) s += at_clamped(a, y, x + k);
            tmp[y * kSide + x] = div_round(s, width);
        }
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            T s = 0;
            for (int k = -r; k <= r; ++k) s += at_clamped(tmp, y + k, x);
            a[y * kSide + x] = div_round(s, width);
        }
}

// Binomial 1-4-6-4-1 blur; the result is scaled by 256.
void binomial(const IntImage &in, IntImage &out) {
    static constexpr int w[5] = {1, 4, 6, 4, 1};
    IntImage tmp{};
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            int s = 0;
            for (int k = -2; k <= 2; ++k) s += w[k + 2] * at_clamped(in, y, x + k);
            tmp[y * kSide + x] = s;
        }
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            int s = 0;
            for (int k = -2; k <= 2; ++k) s += w[k + 2] * at_clamped(tmp, y + k, x);
            out[y * kSide + x] = s;
        }
}

}  // namespace

void band_pass(const std::uint16_t *image, RidgeImage &out) {
    IntImage raw{}, smooth{};
    for (int i = 0; i < params::kPixels; ++i) raw[i] = std::min<int>(image[i], params::kMaxSample);
    binomial(raw, smooth);
    IntImage background = smooth;
    for (int pass = 0; pass < 3; ++pass) box_pass(background, params::kBackgroundBoxRadius);
    for (int i = 0; i < params::kPixels; ++i) {
        out.band[i] = smooth[i] - background[i];
        out.energy[i] = static_cast<std::int64_t>(out.band[i]) * out.band[i];
    }
    for (int pass = 0; pass < 2; ++pass) box_pass(out.energy, params::kEnergyBoxRadius);
}

}  // namespace fpalg

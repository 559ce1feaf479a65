#include "view_image.h"

#include <cmath>

#include "fixed_trig.h"
#include "simd_clones.h"

namespace fpalg {
namespace {
using params::kSide;
}  // namespace

FPALG_SIMD_CLONES void decode_ridges(const View &view, RidgeView &out) {
    for (int y = 0; y < kSide; ++y)
        for (int bx = 0; bx < params::kMaskGrid; ++bx) {
            const bool fg = view.mask[(y / params::kMaskBlock) * params::kMaskGrid + bx];
            const int i0 = y * kSide + bx * params::kMaskBlock;
            // Levels 0..3 stand for -1.5 .. 1.5 (exact in float).
            for (int i = i0; i < i0 + params::kMaskBlock; ++i) {
                out.weight[i] = fg ? 1.0f : 0.0f;
                out.value[i] = fg ? static_cast<float>(view.level[i] & 3) - 1.5f : 0.0f;
            }
        }
}

void StoredRidges::reset(const Template &t) {
    template_ = &t;
    ready_.fill(false);
}

const RidgeView &StoredRidges::operator[](int v) const {
    if (!ready_[v]) {
        decode_ridges(template_->views[v], views_[v]);
        ready_[v] = true;
    }
    return views_[v];
}

FPALG_SIMD_CLONES void rotate_ridges(const RidgeView &in, int deci_degrees, RidgeView &out) {
    const double a = deci_degrees_to_radians(deci_degrees);
    const float c = static_cast<float>(fixed_cos(a)), s = static_cast<float>(fixed_sin(a));
    const float mid = (kSide - 1) / 2.0f;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            // Source of output pixel (x, y) under a rotation by +a.
            const float dx = x - mid, dy = y - mid;
            const float sx = c * dx + s * dy + mid, sy = -s * dx + c * dy + mid;
            const int i = y * kSide + x;
            const int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
            if (x0 < 0 || y0 < 0 || x0 + 1 >= kSide || y0 + 1 >= kSide) {
                out.value[i] = out.weight[i] = 0.0f;
                continue;
            }
            const float fx = sx - x0, fy = sy - y0;
            const int j = y0 * kSide + x0;
            const float w00 = (1 - fx) * (1 - fy), w01 = fx * (1 - fy), w10 = (1 - fx) * fy, w11 = fx * fy;
            const float wt = w00 * in.weight[j] + w01 * in.weight[j + 1] + w10 * in.weight[j + kSide] +
                             w11 * in.weight[j + kSide + 1];
            // Only pixels whose four neighbours are all foreground count.
            const bool full = wt > 0.999f;
            out.weight[i] = full ? 1.0f : 0.0f;
            out.value[i] = full ? w00 * in.value[j] + w01 * in.value[j + 1] + w10 * in.value[j + kSide] +
                                      w11 * in.value[j + kSide + 1]
                                : 0.0f;
        }
}

}  // namespace fpalg

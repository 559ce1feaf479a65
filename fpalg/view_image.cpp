#include "view_image.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "fixed_trig.h"
#include "simd_clones.h"

namespace fpalg {
namespace {
using params::kSide;
}  // namespace

// A mask block's row of eight pixels at a time, in vectors.
FPALG_SIMD_CLONES void decode_ridges(const View &view, RidgeView &out) {
    using Oct = float __attribute__((vector_size(8 * sizeof(float))));
    using Lanes = std::int32_t __attribute__((vector_size(8 * sizeof(std::int32_t))));
    using Bytes = std::uint8_t __attribute__((vector_size(8)));
    static_assert(params::kMaskBlock == 8);
    const Oct one = Oct{} + 1.0f, none{};
    for (int y = 0; y < kSide; ++y)
        for (int bx = 0; bx < params::kMaskGrid; ++bx) {
            const bool fg = view.mask[(y / params::kMaskBlock) * params::kMaskGrid + bx];
            const int i0 = y * kSide + bx * params::kMaskBlock;
            if (!fg) {
                std::memcpy(&out.weight[i0], &none, sizeof none);
                std::memcpy(&out.value[i0], &none, sizeof none);
                continue;
            }
            // Levels 0..3 stand for -1.5 .. 1.5 (exact in float).
            Bytes b;
            std::memcpy(&b, &view.level[i0], sizeof b);
            const Oct v = __builtin_convertvector(__builtin_convertvector(b, Lanes) & 3, Oct) - 1.5f;
            std::memcpy(&out.weight[i0], &one, sizeof one);
            std::memcpy(&out.value[i0], &v, sizeof v);
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

// Eight pixels of a row at a time: the source positions and the bilinear
// weights in vectors, the same operations in the same order as one pixel at
// a time; the four neighbours fetched lane by lane. A source outside the
// image fetches pixel 0 and is then left out.
FPALG_SIMD_CLONES void rotate_ridges(const RidgeView &in, int deci_degrees, RidgeView &out) {
    using Oct = float __attribute__((vector_size(8 * sizeof(float))));
    using Lanes = std::int32_t __attribute__((vector_size(8 * sizeof(std::int32_t))));
    const double a = deci_degrees_to_radians(deci_degrees);
    const float c = static_cast<float>(fixed_cos(a)), s = static_cast<float>(fixed_sin(a));
    const float mid = (kSide - 1) / 2.0f;
    const Oct lane = {0, 1, 2, 3, 4, 5, 6, 7};
    for (int y = 0; y < kSide; ++y) {
        // Source of output pixel (x, y) under a rotation by +a.
        const float dy = y - mid, s_dy = s * dy, c_dy = c * dy;
        for (int x = 0; x < kSide; x += 8) {
            const Oct dx = (lane + static_cast<float>(x)) - mid;
            const Oct sx = c * dx + s_dy + mid, sy = -s * dx + c_dy + mid;
            // floor, as integers: truncation, less one where that rounded up.
            const Lanes tx = __builtin_convertvector(sx, Lanes), ty = __builtin_convertvector(sy, Lanes);
            const Lanes x0 = tx + (__builtin_convertvector(tx, Oct) > sx),
                        y0 = ty + (__builtin_convertvector(ty, Oct) > sy);
            const Lanes inside = (x0 >= 0) & (y0 >= 0) & (x0 + 1 < kSide) & (y0 + 1 < kSide);
            const Oct fx = sx - __builtin_convertvector(x0, Oct), fy = sy - __builtin_convertvector(y0, Oct);
            const Lanes j = (y0 * kSide + x0) & inside;
            float fetched[8][8];
            for (int l = 0; l < 8; ++l) {
                const float *wp = &in.weight[j[l]], *vp = &in.value[j[l]];
                fetched[0][l] = wp[0];
                fetched[1][l] = wp[1];
                fetched[2][l] = wp[kSide];
                fetched[3][l] = wp[kSide + 1];
                fetched[4][l] = vp[0];
                fetched[5][l] = vp[1];
                fetched[6][l] = vp[kSide];
                fetched[7][l] = vp[kSide + 1];
            }
            Oct w[4], v[4];
            std::memcpy(w, fetched[0], sizeof w);
            std::memcpy(v, fetched[4], sizeof v);
            const Oct w00 = (1 - fx) * (1 - fy), w01 = fx * (1 - fy), w10 = (1 - fx) * fy, w11 = fx * fy;
            const Oct wt = w00 * w[0] + w01 * w[1] + w10 * w[2] + w11 * w[3];
            const Oct value = w00 * v[0] + w01 * v[1] + w10 * v[2] + w11 * v[3];
            // Only pixels whose four neighbours are all foreground count.
            const Lanes full = inside & (wt > 0.999f);
            const Oct one = full ? Oct{} + 1.0f : Oct{}, kept = full ? value : Oct{};
            std::memcpy(&out.weight[y * kSide + x], &one, sizeof one);
            std::memcpy(&out.value[y * kSide + x], &kept, sizeof kept);
        }
    }
}

}  // namespace fpalg

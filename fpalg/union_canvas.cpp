#include "union_canvas.h"

#include <cmath>

#include "registration.h"
#include "simd_clones.h"

namespace fpalg {
namespace {
using params::kSide;

// Bilinear sample of a view at (y, x) when all four neighbours are foreground.
bool sample(const RidgeView &v, double y, double x, float &out) {
    const int y0 = static_cast<int>(std::floor(y)), x0 = static_cast<int>(std::floor(x));
    if (y0 < 0 || x0 < 0 || y0 + 1 >= kSide || x0 + 1 >= kSide) return false;
    const int j = y0 * kSide + x0;
    if (v.weight[j] * v.weight[j + 1] * v.weight[j + kSide] * v.weight[j + kSide + 1] < 0.5f) return false;
    const float fy = static_cast<float>(y - y0), fx = static_cast<float>(x - x0);
    out = (1 - fy) * ((1 - fx) * v.value[j] + fx * v.value[j + 1]) +
          fy * ((1 - fx) * v.value[j + kSide] + fx * v.value[j + kSide + 1]);
    return true;
}
}  // namespace

// Canvas pixel (y, x) -> pixel of another view: a rigid map, so affine;
// kept as its value at (0, 0) and its steps along y and x.
struct Affine {
    double oy, ox, yy, yx, xy, xx;
    void at(int y, int x, double &uy, double &ux) const {
        uy = oy + y * yy + x * xy;
        ux = ox + y * yx + x * xx;
    }
};

FPALG_SIMD_CLONES int union_canvas(const Template &stored, const StoredRidges &views, int on, const Peak &shift,
                                   RidgeView &canvas) {
    const Pose base = pose_of(stored.views[on]);
    Affine maps[params::kMaxViews];
    int others[params::kMaxViews], count = 0;
    for (int u = 0; u < stored.view_count; ++u) {
        if (u == on || stored.views[u].frame != stored.views[on].frame) continue;
        const Pose pu = pose_of(stored.views[u]);
        double p[3][2];
        const int probe_at[3][2] = {{0, 0}, {1, 0}, {0, 1}};
        for (int k = 0; k < 3; ++k) {
            double gy, gx;
            base.apply(probe_at[k][0] + shift.dy, probe_at[k][1] + shift.dx, gy, gx);
            pu.invert(gy, gx, p[k][0], p[k][1]);
        }
        maps[count] = {p[0][0], p[0][1], p[1][0] - p[0][0], p[1][1] - p[0][1], p[2][0] - p[0][0], p[2][1] - p[0][1]};
        others[count++] = u;
    }
    int added = 0;
    // Another view's ridges are decoded when a pixel first needs them.
    const RidgeView &own = views[on];
    const RidgeView *other[params::kMaxViews] = {};
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int i = y * kSide + x;
            canvas.value[i] = canvas.weight[i] = 0.0f;
            const int vy = y + shift.dy, vx = x + shift.dx;
            if (vy >= 0 && vx >= 0 && vy < kSide && vx < kSide && own.weight[vy * kSide + vx] > 0.5f) {
                canvas.value[i] = own.value[vy * kSide + vx];
                canvas.weight[i] = 1.0f;
                continue;
            }
            for (int k = 0; k < count; ++k) {
                double uy, ux;
                maps[k].at(y, x, uy, ux);
                float v;
                if (!other[k]) other[k] = &views[others[k]];
                if (sample(*other[k], uy, ux, v)) {
                    canvas.value[i] = v;
                    canvas.weight[i] = 1.0f;
                    ++added;
                    break;
                }
            }
        }
    return added;
}

}  // namespace fpalg

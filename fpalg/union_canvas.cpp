#include "union_canvas.h"

#include <cmath>

#include "registration.h"

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

int union_canvas(const Template &stored, const RidgeView *views, int on, const Peak &shift, RidgeView &canvas) {
    const Pose base = pose_of(stored.views[on]);
    Pose poses[params::kMaxViews];
    for (int u = 0; u < stored.view_count; ++u) poses[u] = pose_of(stored.views[u]);
    int added = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int i = y * kSide + x;
            canvas.value[i] = canvas.weight[i] = 0.0f;
            const int vy = y + shift.dy, vx = x + shift.dx;
            if (vy >= 0 && vx >= 0 && vy < kSide && vx < kSide && views[on].weight[vy * kSide + vx] > 0.5f) {
                canvas.value[i] = views[on].value[vy * kSide + vx];
                canvas.weight[i] = 1.0f;
                continue;
            }
            double gy, gx;
            base.apply(vy, vx, gy, gx);
            for (int u = 0; u < stored.view_count; ++u) {
                if (u == on || stored.views[u].frame != stored.views[on].frame) continue;
                double uy, ux;
                poses[u].invert(gy, gx, uy, ux);
                float v;
                if (sample(views[u], uy, ux, v)) {
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

#include "flow_agreement.h"

#include <algorithm>
#include <cmath>

namespace fpalg {
namespace {
using params::kSide;
constexpr int kCell = params::kFlowAgreementCell;
constexpr int kCells = kSide / kCell;

// Gradient structure tensor and energy of one cell of one image. The
// squared gradient over the squared value grows with the square of the
// ridge frequency, so their ratio reads the ridge spacing without a Fourier
// transform. Only pixels whose neighbours are valid count.
struct Cell {
    float xx = 0, yy = 0, xy = 0, vv = 0;
    int n = 0;
};

Cell measure(const RidgeView &r, const RidgeView &other, int cy, int cx) {
    Cell c;
    for (int y = std::max(cy * kCell, 1); y < std::min(cy * kCell + kCell, kSide - 1); ++y)
        for (int x = std::max(cx * kCell, 1); x < std::min(cx * kCell + kCell, kSide - 1); ++x) {
            const int i = y * kSide + x;
            if (r.weight[i] * r.weight[i - 1] * r.weight[i + 1] * r.weight[i - kSide] * r.weight[i + kSide] *
                    other.weight[i] ==
                0.0f)
                continue;
            const float gx = r.value[i + 1] - r.value[i - 1], gy = r.value[i + kSide] - r.value[i - kSide];
            c.xx += gx * gx;
            c.yy += gy * gy;
            c.xy += gx * gy;
            c.vv += r.value[i] * r.value[i];
            ++c.n;
        }
    return c;
}

}  // namespace

FlowAgreement flow_agreement(const RidgeView &stored, const RidgeView &probe) {
    FlowAgreement f;
    float dot = 0.0f, norms = 0.0f, spacing = 0.0f;
    for (int cy = 0; cy < kCells; ++cy)
        for (int cx = 0; cx < kCells; ++cx) {
            const Cell a = measure(stored, probe, cy, cx), b = measure(probe, stored, cy, cx);
            if (a.n < params::kFlowAgreementMinPx || b.n < params::kFlowAgreementMinPx || a.vv <= 0.0f || b.vv <= 0.0f)
                continue;
            ++f.cells;
            // Double-angle vectors: their length is the coherence times the energy.
            const float ac = a.xx - a.yy, as = 2.0f * a.xy, bc = b.xx - b.yy, bs = 2.0f * b.xy;
            dot += ac * bc + as * bs;
            norms += std::sqrt((ac * ac + as * as) * (bc * bc + bs * bs));
            const float fa = (a.xx + a.yy) / a.vv, fb = (b.xx + b.yy) / b.vv;
            spacing += std::fabs(fa - fb) / (fa + fb);
        }
    if (f.cells) {
        f.direction = norms > 0.0f ? dot / norms : 0.0f;
        f.spacing = spacing / static_cast<float>(f.cells);
    }
    return f;
}

}  // namespace fpalg

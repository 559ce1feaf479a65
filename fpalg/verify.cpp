#include "verify.h"

#include <algorithm>
#include <cmath>

#include "simd_clones.h"

namespace fpalg {
namespace {
using params::kSide;

struct Sums {
    float vp = 0, vv = 0, pp = 0;
    int n = 0;
    float ncc() const { return vv > 0 && pp > 0 ? vp / std::sqrt(vv * pp) : 0.0f; }
};

// Correlation over view rows/cols [y0, y1) x [x0, x1) with the probe shifted by (dy, dx).
FPALG_SIMD_CLONES Sums correlate_region(const RidgeView &v, const RidgeView &p, int dy, int dx, int y0, int y1, int x0, int x1) {
    y0 = std::max(y0, dy);
    y1 = std::min(y1, kSide + dy);
    x0 = std::max(x0, dx);
    x1 = std::min(x1, kSide + dx);
    Sums s;
    for (int y = y0; y < y1; ++y) {
        const float *vv = &v.value[y * kSide], *vw = &v.weight[y * kSide];
        // Probe row start; x - dx stays within the row (x0 >= dx, x1 <= kSide + dx),
        // so no pointer ever points before the array.
        const float *pv = &p.value[(y - dy) * kSide], *pw = &p.weight[(y - dy) * kSide];
        for (int x = x0; x < x1; ++x) {
            const float w = vw[x] * pw[x - dx];
            s.vp += w * vv[x] * pv[x - dx];
            s.vv += w * vv[x] * vv[x];
            s.pp += w * pv[x - dx] * pv[x - dx];
            s.n += w > 0.5f;
        }
    }
    return s;
}

}  // namespace

float overlap_ncc(const RidgeView &view, const RidgeView &probe, int dy, int dx, int &pixels) {
    const Sums s = correlate_region(view, probe, dy, dx, 0, kSide, 0, kSide);
    pixels = s.n;
    return s.ncc();
}

void verify_alignment(const RidgeView &view, const RidgeView &probe, const Peak &start, ScoreParts &parts) {
    Sums best;
    int by = start.dy, bx = start.dx;
    float best_ncc = -2.0f;
    const int r = params::kRefineRadius;
    for (int dy = start.dy - r; dy <= start.dy + r; ++dy)
        for (int dx = start.dx - r; dx <= start.dx + r; ++dx) {
            const Sums s = correlate_region(view, probe, dy, dx, 0, kSide, 0, kSide);
            if (s.n >= params::kMinOverlapPx && s.ncc() > best_ncc) {
                best_ncc = s.ncc();
                best = s;
                by = dy;
                bx = dx;
            }
        }
    parts.dy = by;
    parts.dx = bx;
    parts.overlap_px = best.n;
    parts.ncc = best_ncc > -2.0f ? best_ncc : 0.0f;
    parts.blocks = parts.good_blocks = 0;
    float sum = 0.0f;
    if (best.n < params::kMinOverlapPx) {
        parts.block_ncc = 0.0f;
        return;
    }
    const int b = params::kBlock, m = params::kBlockShift;
    for (int gy = 0; gy < params::kBlockGrid; ++gy)
        for (int gx = 0; gx < params::kBlockGrid; ++gx) {
            float top = -1.0f;
            bool compared = false;
            for (int dy = by - m; dy <= by + m; ++dy)
                for (int dx = bx - m; dx <= bx + m; ++dx) {
                    const Sums s = correlate_region(view, probe, dy, dx, gy * b, gy * b + b, gx * b, gx * b + b);
                    if (s.n < params::kBlockMinValid) continue;
                    compared = true;
                    top = std::max(top, s.ncc());
                }
            if (!compared) continue;
            ++parts.blocks;
            sum += top;
            parts.good_blocks += top > params::kBlockGoodNcc;
        }
    parts.block_ncc = parts.blocks ? sum / parts.blocks : 0.0f;
}

}  // namespace fpalg

#include "verify.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "calibration.h"
#include "simd_clones.h"
#include "union_canvas.h"

namespace fpalg {
namespace {
using params::kSide;

struct Sums {
    float vp = 0, vv = 0, pp = 0;
    int n = 0;
    float ncc() const { return vv > 0 && pp > 0 ? vp / std::sqrt(vv * pp) : 0.0f; }
};

// Partial sums kept in kLanes interleaved accumulators (pixel x of a row
// goes to lane (x - x0) % kLanes) and added up in a fixed order at the end:
// the loop vectorises, and the result is the same with or without SIMD
// (eight-float vectors are one register with AVX2 and two elsewhere). No
// such vector crosses a call: the base ABI has no register for it.
constexpr int kLanes = 8;
using Oct = float __attribute__((vector_size(kLanes * sizeof(float))));

// Correlation over view rows/cols [y0, y1) x [x0, x1) with the probe shifted by (dy, dx).
FPALG_SIMD_CLONES Sums correlate_region(const RidgeView &v, const RidgeView &p, int dy, int dx, int y0, int y1, int x0,
                                        int x1) {
    y0 = std::max(y0, dy);
    y1 = std::min(y1, kSide + dy);
    x0 = std::max(x0, dx);
    x1 = std::min(x1, kSide + dx);
    Sums s;
    // Nothing in common; no row pointer may be formed past the image then.
    if (y1 <= y0 || x1 <= x0) return s;
    Oct vp{}, vv2{}, pp{}, n{};
    const int full = (x1 - x0) / kLanes * kLanes;
    for (int y = y0; y < y1; ++y) {
        const float *vv = &v.value[y * kSide + x0], *vw = &v.weight[y * kSide + x0];
        // Probe row start; x - dx stays within the row (x0 >= dx, x1 <= kSide + dx),
        // so no pointer ever points before the array.
        const float *pv = &p.value[(y - dy) * kSide + x0 - dx], *pw = &p.weight[(y - dy) * kSide + x0 - dx];
        for (int x = 0; x < full; x += kLanes) {
            Oct a, b, wa, wb;
            std::memcpy(&a, vv + x, sizeof a);
            std::memcpy(&b, pv + x, sizeof b);
            std::memcpy(&wa, vw + x, sizeof wa);
            std::memcpy(&wb, pw + x, sizeof wb);
            const Oct w = wa * wb;
            vp += w * a * b;
            vv2 += w * a * a;
            pp += w * b * b;
            n += w;
        }
        for (int x = full; x < x1 - x0; ++x) {
            const int l = x % kLanes;
            const float w = vw[x] * pw[x];
            vp[l] += w * vv[x] * pv[x];
            vv2[l] += w * vv[x] * vv[x];
            pp[l] += w * pv[x] * pv[x];
            n[l] += w;
        }
    }
    float count = 0.0f;
    for (int l = 0; l < kLanes; ++l) {
        s.vp += vp[l];
        s.vv += vv2[l];
        s.pp += pp[l];
        count += n[l];
    }
    // Weights are 0 or 1, so their sum counts the pixels exactly.
    s.n = static_cast<int>(count);
    return s;
}

}  // namespace

float region_ncc(const RidgeView &view, const RidgeView &probe, int dy, int dx, int y0, int y1, int x0, int x1,
                 int &pixels) {
    const Sums s = correlate_region(view, probe, dy, dx, y0, y1, x0, x1);
    pixels = s.n;
    return s.ncc();
}

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
    // Blocks free to move cannot rescue an overlap that does not correlate
    // at all; they would only find chance agreement in it.
    if (best.n < params::kMinOverlapPx || parts.ncc < params::kMinOverlapNcc) {
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

ScoreParts verify_candidate(const Template &stored, const StoredRidges &views, const ProbeCache &pc, const Candidate &c,
                            RidgeView &canvas) {
    ScoreParts p;
    p.view = c.view;
    p.angle_deci = angle_of(c.angle);
    p.peak = c.peak.height;
    p.ambiguity = std::max(stored.views[c.view].ambiguity, pc.source.ambiguity) / 255.0f;
    verify_alignment(views[c.view], pc.rotated[c.angle], c.peak, p);
    p.raw = raw_evidence(p);
    // Other views cannot turn an alignment that fails on its own view into
    // a match; they only widen one that holds.
    if (p.overlap_px == 0 || p.raw < params::kUnionMinRaw) return p;
    const Peak at{c.peak.height, p.dy, p.dx};
    const int extra = union_canvas(stored, views, c.view, at, canvas);
    if (extra < params::kUnionMinExtraPx) return p;
    ScoreParts u = p;
    u.union_px = extra;
    verify_alignment(canvas, pc.rotated[c.angle], Peak{c.peak.height, 0, 0}, u);
    u.dy += p.dy;
    u.dx += p.dx;
    u.raw = raw_evidence(u);
    return u.raw > p.raw ? u : p;
}

}  // namespace fpalg

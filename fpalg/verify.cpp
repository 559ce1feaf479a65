#include "verify.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
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
using Lanes = std::int32_t __attribute__((vector_size(kLanes * sizeof(std::int32_t))));

// Clips rows/cols [y0, y1) x [x0, x1) to where the probe shifted by
// (dy, dx) lies over the view. False when nothing is in common: no row
// pointer may be formed past the image then.
bool clip_to_shift(int dy, int dx, int &y0, int &y1, int &x0, int &x1) {
    y0 = std::max(y0, dy);
    y1 = std::min(y1, kSide + dy);
    x0 = std::max(x0, dx);
    x1 = std::min(x1, kSide + dx);
    return y1 > y0 && x1 > x0;
}

// Correlation over view rows/cols [y0, y1) x [x0, x1) with the probe shifted by (dy, dx).
// Each pixel counts with the product w of both weights (0 or 1). A value is
// 0 wherever its own weight is (view_image.h), so w * a * b is a * b, and
// w * a * a is b's weight times a * a, bit for bit (a weight is +0 or 1, so
// even the sign of a zero product is the same): two multiplications fewer
// per pixel.
FPALG_SIMD_CLONES Sums correlate_region(const RidgeView &v, const RidgeView &p, int dy, int dx, int y0, int y1, int x0,
                                        int x1) {
    Sums s;
    if (!clip_to_shift(dy, dx, y0, y1, x0, x1)) return s;
    Oct vp{}, vv2{}, pp{}, n{};
    const int full = (x1 - x0) / kLanes * kLanes;
    const Lanes lane = {0, 1, 2, 3, 4, 5, 6, 7};
    const Lanes tail = lane < (x1 - x0 - full);
    for (int y = y0; y < y1; ++y) {
        const float *vv = &v.value[y * kSide + x0], *vw = &v.weight[y * kSide + x0];
        // Probe row start; x - dx stays within the row (x0 >= dx, x1 <= kSide + dx),
        // so no pointer ever points before the array.
        const float *pv = &p.value[(y - dy) * kSide + x0 - dx], *pw = &p.weight[(y - dy) * kSide + x0 - dx];
        // A row's last few pixels are read as one full vector, lanes beyond
        // the region left out, unless that vector would reach past either
        // image (then pixel by pixel).
        const bool vector_tail = full < x1 - x0 && y * kSide + x0 + full + kLanes <= params::kPixels &&
                                 (y - dy) * kSide + x0 - dx + full + kLanes <= params::kPixels;
        const int end = vector_tail ? x1 - x0 : full;
        for (int x = 0; x < end; x += kLanes) {
            Oct a, b, wa, wb;
            std::memcpy(&a, vv + x, sizeof a);
            std::memcpy(&b, pv + x, sizeof b);
            std::memcpy(&wa, vw + x, sizeof wa);
            std::memcpy(&wb, pw + x, sizeof wb);
            if (x == full) {
                // A zero weight makes the terms of the squares and the
                // count +0, which changes no sum of non-negative terms; a
                // lane of vp left out keeps its sum (even a -0).
                wa = tail ? wa : Oct{};
                wb = tail ? wb : Oct{};
                vp = tail ? vp + a * b : vp;
            } else {
                vp += a * b;
            }
            vv2 += wb * a * a;
            pp += wa * b * b;
            n += wa * wb;
        }
        for (int x = end; x < x1 - x0; ++x) {
            const int l = x % kLanes;
            vp[l] += vv[x] * pv[x];
            vv2[l] += pw[x] * vv[x] * vv[x];
            pp[l] += vw[x] * pv[x] * pv[x];
            n[l] += vw[x] * pw[x];
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

// An image's values, their squares and its weight as a mask (all ones where
// the weight is 1), each followed by a row's worth of zeros: a row's last
// few pixels are read as one full vector whose lanes beyond the region are
// left out.
struct PairedRidges::Prepared {
    static constexpr int kSize = params::kPixels + kLanes;
    std::array<float, kSize> value, square;
    std::array<std::int32_t, kSize> mask;
};

namespace {

FPALG_SIMD_CLONES void prepare(const RidgeView &r, PairedRidges::Prepared &out) {
    for (int i = 0; i < params::kPixels; ++i) {
        out.value[i] = r.value[i];
        out.square[i] = r.value[i] * r.value[i];
        out.mask[i] = r.weight[i] != 0.0f ? -1 : 0;
    }
    for (int i = params::kPixels; i < PairedRidges::Prepared::kSize; ++i) {
        out.value[i] = out.square[i] = 0.0f;
        out.mask[i] = 0;
    }
}

// correlate_region with the products worked out beforehand: where w * a * a
// is b's weight times a * a, that is a * a masked by b's weight (a masked
// +0 is what the product gives too), and the pixel count is kept in
// integers (it is exact either way). Sums run in the same lanes in the
// same order.
FPALG_SIMD_CLONES Sums correlate_prepared(const PairedRidges::Prepared &vq, const PairedRidges::Prepared &pq, int dy,
                                          int dx, int y0, int y1, int x0, int x1) {
    Sums s;
    if (!clip_to_shift(dy, dx, y0, y1, x0, x1)) return s;
    Oct vp{}, vv2{}, pp{};
    Lanes n{};
    const int full = (x1 - x0) / kLanes * kLanes;
    // Lanes of the last, partial vector of a row that lie in the region.
    const Lanes lane = {0, 1, 2, 3, 4, 5, 6, 7};
    const Lanes tail = lane < (x1 - x0 - full);
    for (int y = y0; y < y1; ++y) {
        const int vi = y * kSide + x0, pi = (y - dy) * kSide + x0 - dx;
        const float *va = &vq.value[vi], *va2 = &vq.square[vi], *pb = &pq.value[pi], *pb2 = &pq.square[pi];
        const std::int32_t *vm = &vq.mask[vi], *pm = &pq.mask[pi];
        for (int x = 0; x < x1 - x0; x += kLanes) {
            Oct a, b, a2, b2;
            Lanes ma, mb;
            std::memcpy(&a, va + x, sizeof a);
            std::memcpy(&b, pb + x, sizeof b);
            std::memcpy(&a2, va2 + x, sizeof a2);
            std::memcpy(&b2, pb2 + x, sizeof b2);
            std::memcpy(&ma, vm + x, sizeof ma);
            std::memcpy(&mb, pm + x, sizeof mb);
            if (x == full) {
                // A lane left out keeps its sum as it is (adding +0 would
                // turn a -0 of vp into +0); the squares and the count only
                // ever sum non-negative terms, where a zero term is the same.
                ma &= tail;
                mb &= tail;
                vp = tail ? vp + a * b : vp;
            } else {
                vp += a * b;
            }
            vv2 += reinterpret_cast<Oct>(reinterpret_cast<Lanes>(a2) & mb);
            pp += reinterpret_cast<Oct>(reinterpret_cast<Lanes>(b2) & ma);
            n -= ma & mb;
        }
    }
    for (int l = 0; l < kLanes; ++l) {
        s.vp += vp[l];
        s.vv += vv2[l];
        s.pp += pp[l];
        s.n += n[l];
    }
    return s;
}

}  // namespace

namespace {
// Each thread keeps one pair of buffers: a fresh 150 kB each time would
// cost page faults whenever the allocator hands the memory back.
struct PreparedSlot {
    std::unique_ptr<PairedRidges::Prepared[]> buffers = std::make_unique<PairedRidges::Prepared[]>(2);
    bool taken = false;
};
PreparedSlot &prepared_slot() {
    thread_local PreparedSlot slot;
    return slot;
}
}  // namespace

PairedRidges::PairedRidges(const RidgeView &view, const RidgeView &probe) {
    PreparedSlot &slot = prepared_slot();
    Prepared *buffers = nullptr;
    if (!slot.taken) {
        slot.taken = true;
        buffers = slot.buffers.get();
    } else {
        owned_ = std::make_unique<Prepared[]>(2);
        buffers = owned_.get();
    }
    v_ = &buffers[0];
    p_ = &buffers[1];
    prepare(view, *v_);
    prepare(probe, *p_);
}

PairedRidges::~PairedRidges() {
    if (!owned_) prepared_slot().taken = false;
}

float PairedRidges::region_ncc(int dy, int dx, int y0, int y1, int x0, int x1, int &pixels) const {
    const Sums s = correlate_prepared(*v_, *p_, dy, dx, y0, y1, x0, x1);
    pixels = s.n;
    return s.ncc();
}

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
    const PairedRidges pair(view, probe);
    int best_n = 0;
    int by = start.dy, bx = start.dx;
    float best_ncc = -2.0f;
    const int r = params::kRefineRadius;
    for (int dy = start.dy - r; dy <= start.dy + r; ++dy)
        for (int dx = start.dx - r; dx <= start.dx + r; ++dx) {
            int n = 0;
            const float c = pair.region_ncc(dy, dx, 0, kSide, 0, kSide, n);
            if (n >= params::kMinOverlapPx && c > best_ncc) {
                best_ncc = c;
                best_n = n;
                by = dy;
                bx = dx;
            }
        }
    parts.dy = by;
    parts.dx = bx;
    parts.overlap_px = best_n;
    parts.ncc = best_ncc > -2.0f ? best_ncc : 0.0f;
    parts.blocks = parts.good_blocks = 0;
    float sum = 0.0f;
    // Blocks free to move cannot rescue an overlap that does not correlate
    // at all; they would only find chance agreement in it.
    if (best_n < params::kMinOverlapPx || parts.ncc < params::kMinOverlapNcc) {
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
                    int n = 0;
                    const float c = pair.region_ncc(dy, dx, gy * b, gy * b + b, gx * b, gx * b + b, n);
                    if (n < params::kBlockMinValid) continue;
                    compared = true;
                    top = std::max(top, c);
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

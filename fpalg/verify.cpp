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
struct Partial {
    Oct vp{}, vv2{}, pp{};
    Lanes n{};
    // Member by member: a copy of the whole struct becomes a string move.
    void take(const Partial &o) {
        vp = o.vp;
        vv2 = o.vv2;
        pp = o.pp;
        n = o.n;
    }
};

// Pixels [x, x + 8) of one row for S shifts that differ only in rows: the
// view's pixels are loaded once for all of them, and the S sums, each its
// own chain of additions, no longer wait on one another. Each shift's lanes
// take the same terms in the same order as on their own. With kTail the
// lanes outside `tail` are left out: a lane left out keeps its sum as it is
// (adding +0 would turn a -0 of vp into +0); the squares and the count only
// ever sum non-negative terms, where a zero term is the same.
template <int S, bool kTail>
[[gnu::always_inline]] inline void correlate_step(const PairedRidges::Prepared &vq, const PairedRidges::Prepared &pq,
                                                  int vi, const int *pi, Partial *acc, const Lanes &tail) {
    Oct a, a2;
    Lanes ma0;
    std::memcpy(&a, &vq.value[vi], sizeof a);
    std::memcpy(&a2, &vq.square[vi], sizeof a2);
    std::memcpy(&ma0, &vq.mask[vi], sizeof ma0);
    for (int k = 0; k < S; ++k) {
        Partial &p = acc[k];
        Oct b, b2;
        Lanes ma = ma0, mb;
        std::memcpy(&b, &pq.value[pi[k]], sizeof b);
        std::memcpy(&b2, &pq.square[pi[k]], sizeof b2);
        std::memcpy(&mb, &pq.mask[pi[k]], sizeof mb);
        if (kTail) {
            ma &= tail;
            mb &= tail;
            p.vp = tail ? p.vp + a * b : p.vp;
        } else {
            p.vp += a * b;
        }
        p.vv2 += reinterpret_cast<Oct>(reinterpret_cast<Lanes>(a2) & mb);
        p.pp += reinterpret_cast<Oct>(reinterpret_cast<Lanes>(b2) & ma);
        p.n -= ma & mb;
    }
}

// Rows [y0, y1) for shifts (dy0 + k, dx), k < S, all of which cover them.
template <int S>
[[gnu::always_inline]] inline void correlate_rows_all(const PairedRidges::Prepared &vq,
                                                      const PairedRidges::Prepared &pq, int dy0, int dx, int y0,
                                                      int y1, int x0, int width, Partial *out) {
    const int full = width / kLanes * kLanes;
    // Lanes of the last, partial vector of a row that lie in the region.
    const Lanes lane = {0, 1, 2, 3, 4, 5, 6, 7};
    const Lanes tail = lane < (width - full);
    Partial acc[S];
    for (int k = 0; k < S; ++k) acc[k].take(out[k]);
    for (int y = y0; y < y1; ++y) {
        const int vi = y * kSide + x0;
        int pi[S];
        for (int k = 0; k < S; ++k) pi[k] = (y - dy0 - k) * kSide + x0 - dx;
        for (int x = 0; x < full; x += kLanes) {
            int at[S];
            for (int k = 0; k < S; ++k) at[k] = pi[k] + x;
            correlate_step<S, false>(vq, pq, vi + x, at, acc, tail);
        }
        if (full < width) {
            int at[S];
            for (int k = 0; k < S; ++k) at[k] = pi[k] + full;
            correlate_step<S, true>(vq, pq, vi + full, at, acc, tail);
        }
    }
    for (int k = 0; k < S; ++k) out[k].take(acc[k]);
}

Sums total(const Partial &p) {
    Sums s;
    for (int l = 0; l < kLanes; ++l) {
        s.vp += p.vp[l];
        s.vv += p.vv2[l];
        s.pp += p.pp[l];
        s.n += p.n[l];
    }
    return s;
}

// Shifts (dy0 + k, dx) for k < S at once. The column range is clipped by
// dx alone, so it is the same for all of them; each keeps its own rows, and
// since a larger dy covers rows no earlier and ends no earlier, the rows
// split into those before all shifts cover them, those all cover, and
// those after.
template <int S>
[[gnu::always_inline]] inline void correlate_rows(const PairedRidges::Prepared &vq, const PairedRidges::Prepared &pq,
                                                  int dy0, int dx, int y0, int y1, int x0, int x1, Sums *out) {
    int lo[S], hi[S];
    int cx0 = x0, cx1 = x1;  // clipped by dx alone: the same for every shift
    bool any = false;
    for (int k = 0; k < S; ++k) {
        cx0 = x0, cx1 = x1;
        lo[k] = y0;
        hi[k] = y1;
        if (!clip_to_shift(dy0 + k, dx, lo[k], hi[k], cx0, cx1)) lo[k] = hi[k] = 0;
        any = any || lo[k] < hi[k];
        out[k] = Sums{};
    }
    if (!any) return;
    const int width = cx1 - cx0;
    Partial acc[S];
    // Where every shift covers the row (an empty range when one covers none).
    int common_lo = lo[0], common_hi = hi[0];
    for (int k = 1; k < S; ++k) common_lo = std::max(common_lo, lo[k]), common_hi = std::min(common_hi, hi[k]);
    if (common_hi < common_lo) common_hi = common_lo;
    for (int k = 0; k < S; ++k)
        if (lo[k] < std::min(hi[k], common_lo))
            correlate_rows_all<1>(vq, pq, dy0 + k, dx, lo[k], std::min(hi[k], common_lo), cx0, width, &acc[k]);
    if (common_lo < common_hi) correlate_rows_all<S>(vq, pq, dy0, dx, common_lo, common_hi, cx0, width, acc);
    for (int k = 0; k < S; ++k)
        if (std::max(lo[k], common_hi) < hi[k])
            correlate_rows_all<1>(vq, pq, dy0 + k, dx, std::max(lo[k], common_hi), hi[k], cx0, width, &acc[k]);
    for (int k = 0; k < S; ++k)
        if (lo[k] < hi[k]) out[k] = total(acc[k]);
}

FPALG_SIMD_CLONES void correlate_prepared(const PairedRidges::Prepared &vq, const PairedRidges::Prepared &pq, int dy,
                                          int dx, int y0, int y1, int x0, int x1, Sums *out) {
    correlate_rows<1>(vq, pq, dy, dx, y0, y1, x0, x1, out);
}

constexpr int kRowShifts = 3;
FPALG_SIMD_CLONES void correlate_prepared3(const PairedRidges::Prepared &vq, const PairedRidges::Prepared &pq, int dy0,
                                           int dx, int y0, int y1, int x0, int x1, Sums *out) {
    correlate_rows<kRowShifts>(vq, pq, dy0, dx, y0, y1, x0, x1, out);
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
    Sums s;
    correlate_prepared(*v_, *p_, dy, dx, y0, y1, x0, x1, &s);
    pixels = s.n;
    return s.ncc();
}

void PairedRidges::region_ncc_rows(int dy0, int count, int dx, int y0, int y1, int x0, int x1, float *ncc,
                                   int *pixels) const {
    Sums s[kRowShifts];
    for (int k = 0; k < count; k += kRowShifts) {
        const int n = std::min(kRowShifts, count - k);
        if (n == kRowShifts)
            correlate_prepared3(*v_, *p_, dy0 + k, dx, y0, y1, x0, x1, s);
        else
            for (int j = 0; j < n; ++j) correlate_prepared(*v_, *p_, dy0 + k + j, dx, y0, y1, x0, x1, &s[j]);
        for (int j = 0; j < n; ++j) {
            pixels[k + j] = s[j].n;
            ncc[k + j] = s[j].ncc();
        }
    }
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
    // Every shift's correlation first (a column of shifts at a time), then
    // the choice among them in row order.
    const int r = params::kRefineRadius;
    constexpr int w = 2 * params::kRefineRadius + 1;
    float refined[w][w];
    int pixels[w][w];
    for (int dx = start.dx - r; dx <= start.dx + r; ++dx) {
        const int j = dx - start.dx + r;
        float c[w];
        int n[w];
        pair.region_ncc_rows(start.dy - r, w, dx, 0, kSide, 0, kSide, c, n);
        for (int i = 0; i < w; ++i) refined[i][j] = c[i], pixels[i][j] = n[i];
    }
    for (int dy = start.dy - r; dy <= start.dy + r; ++dy)
        for (int dx = start.dx - r; dx <= start.dx + r; ++dx) {
            const int n = pixels[dy - start.dy + r][dx - start.dx + r];
            const float c = refined[dy - start.dy + r][dx - start.dx + r];
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
            constexpr int w = 2 * params::kBlockShift + 1;
            float c[w][w];
            int n[w][w];
            for (int dx = bx - m; dx <= bx + m; ++dx) {
                float col[w];
                int px[w];
                pair.region_ncc_rows(by - m, w, dx, gy * b, gy * b + b, gx * b, gx * b + b, col, px);
                for (int i = 0; i < w; ++i) c[i][dx - bx + m] = col[i], n[i][dx - bx + m] = px[i];
            }
            float top = -1.0f;
            bool compared = false;
            for (int i = 0; i < w; ++i)
                for (int j = 0; j < w; ++j) {
                    if (n[i][j] < params::kBlockMinValid) continue;
                    compared = true;
                    top = std::max(top, c[i][j]);
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

#include "minutiae.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace fpalg {
namespace {
using params::kSide;
using Bits = std::array<std::uint8_t, params::kPixels>;

// Neighbours clockwise from north; thinning and the crossing number use the order.
constexpr int kNy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
constexpr int kNx[8] = {0, 1, 1, 1, 0, -1, -1, -1};

int neighbourhood(const Bits &b, int y, int x) {
    int m = 0;
    for (int k = 0; k < 8; ++k) m |= b[(y + kNy[k]) * kSide + x + kNx[k]] << k;
    return m;
}

int crossing_number(int m) {
    int c = 0;
    for (int k = 0; k < 8; ++k) c += ((m >> k) & 1) != ((m >> ((k + 1) & 7)) & 1);
    return c / 2;
}

// Which 8-neighbourhoods let a ridge pixel go in each Zhang-Suen pass.
struct PeelTable {
    bool peel[2][256];
    PeelTable() {
        for (int m = 0; m < 256; ++m) {
            const int n = __builtin_popcount(static_cast<unsigned>(m));
            const int p2 = m & 1, p4 = (m >> 2) & 1, p6 = (m >> 4) & 1, p8 = (m >> 6) & 1;
            const bool border = n >= 2 && n <= 6 && crossing_number(m) == 1;
            peel[0][m] = border && !(p2 && p4 && p6) && !(p4 && p6 && p8);
            peel[1][m] = border && !(p2 && p4 && p8) && !(p2 && p6 && p8);
        }
    }
};

// Zhang-Suen thinning: peels ridge borders until one-pixel lines remain.
// Only pixels still on the ridge are visited, in raster order.
void thin(Bits &b) {
    static const PeelTable table;
    std::vector<int> live, peel;
    live.reserve(params::kPixels);
    for (int y = 1; y < kSide - 1; ++y)
        for (int x = 1; x < kSide - 1; ++x)
            if (b[y * kSide + x]) live.push_back(y * kSide + x);
    for (bool changed = true; changed;) {
        changed = false;
        for (int pass = 0; pass < 2; ++pass) {
            peel.clear();
            for (int i : live)
                if (b[i] && table.peel[pass][neighbourhood(b, i / kSide, i % kSide)]) peel.push_back(i);
            for (int i : peel) b[i] = 0;
            changed |= !peel.empty();
        }
        std::erase_if(live, [&](int i) { return !b[i]; });
    }
}

// Distance (chessboard) from each pixel to the nearest pixel outside `valid`,
// capped; minutiae near the edge of the common area are edge artefacts.
void edge_distance(const Bits &valid, std::array<std::uint8_t, params::kPixels> &d) {
    constexpr std::uint8_t kCap = 255;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int i = y * kSide + x;
            if (!valid[i] || y == 0 || x == 0 || y == kSide - 1 || x == kSide - 1) {
                d[i] = 0;
                continue;
            }
            int m = kCap;
            m = std::min<int>(m, d[i - kSide] + 1);
            m = std::min<int>(m, d[i - 1] + 1);
            m = std::min<int>(m, d[i - kSide - 1] + 1);
            m = std::min<int>(m, d[i - kSide + 1] + 1);
            d[i] = static_cast<std::uint8_t>(m);
        }
    for (int y = kSide - 2; y >= 1; --y)
        for (int x = kSide - 2; x >= 1; --x) {
            const int i = y * kSide + x;
            if (!d[i]) continue;
            int m = d[i];
            m = std::min<int>(m, d[i + kSide] + 1);
            m = std::min<int>(m, d[i + 1] + 1);
            m = std::min<int>(m, d[i + kSide + 1] + 1);
            m = std::min<int>(m, d[i + kSide - 1] + 1);
            d[i] = static_cast<std::uint8_t>(m);
        }
}

// Ridge pixels after smoothing along the local ridge flow: the two-bit
// samples are noisy across a few pixels, and every noisy sample would
// otherwise cut a ridge or bridge two, each cut a false pair of minutiae.
// The flow comes from the gradients' structure tensor, summed over cells
// and their neighbours (it turns slowly); no trigonometry, so the result is
// the same on every CPU.
void binarise(const RidgeView &r, const Bits &valid, Bits &b) {
    constexpr int kCell = params::kFlowCell, kCells = kSide / kCell;
    std::array<float, kCells * kCells> xx{}, yy{}, xy{};
    for (int y = 1; y < kSide - 1; ++y)
        for (int x = 1; x < kSide - 1; ++x) {
            const int i = y * kSide + x, c = (y / kCell) * kCells + x / kCell;
            const float gx = r.value[i + 1] - r.value[i - 1], gy = r.value[i + kSide] - r.value[i - kSide];
            xx[c] += gx * gx;
            yy[c] += gy * gy;
            xy[c] += gx * gy;
        }
    b.fill(0);
    const int reach = params::kFlowSmoothReach;
    for (int cy = 0; cy < kCells; ++cy)
        for (int cx = 0; cx < kCells; ++cx) {
            float sxx = 0.0f, syy = 0.0f, sxy = 0.0f;
            for (int ny = std::max(cy - 1, 0); ny <= std::min(cy + 1, kCells - 1); ++ny)
                for (int nx = std::max(cx - 1, 0); nx <= std::min(cx + 1, kCells - 1); ++nx) {
                    sxx += xx[ny * kCells + nx];
                    syy += yy[ny * kCells + nx];
                    sxy += xy[ny * kCells + nx];
                }
            // Dominant gradient direction (c, s) = (cos p, sin p) from cos 2p and sin 2p.
            const float dxx = sxx - syy, dxy = 2.0f * sxy;
            const float norm = std::sqrt(dxx * dxx + dxy * dxy);
            const float c2 = norm > 0.0f ? dxx / norm : 1.0f, s2 = norm > 0.0f ? dxy / norm : 0.0f;
            const float c = std::sqrt(std::max(0.0f, (1.0f + c2) / 2.0f));
            const float s = std::copysign(std::sqrt(std::max(0.0f, (1.0f - c2) / 2.0f)), s2);
            // Ridges run across the gradient: step (dx, dy) = (-s, c), to the
            // nearest pixel (the offset keeps the truncation a floor).
            int oy[2 * params::kFlowSmoothReach + 1], ox[2 * params::kFlowSmoothReach + 1];
            for (int t = -reach; t <= reach; ++t) {
                ox[t + reach] = static_cast<int>(-t * s + 0.5f + kSide) - kSide;
                oy[t + reach] = static_cast<int>(t * c + 0.5f + kSide) - kSide;
            }
            for (int y = cy * kCell; y < cy * kCell + kCell; ++y)
                for (int x = cx * kCell; x < cx * kCell + kCell; ++x) {
                    const int i = y * kSide + x;
                    if (!valid[i]) continue;
                    float sum = 0.0f;
                    for (int t = 0; t <= 2 * reach; ++t) {
                        const int sy = y + oy[t], sx = x + ox[t];
                        if (sx >= 0 && sy >= 0 && sx < kSide && sy < kSide) sum += r.value[sy * kSide + sx];
                    }
                    b[i] = sum > 0.0f;
                }
        }
}

int find(const RidgeView &r, const Bits &valid, const std::array<std::uint8_t, params::kPixels> &edge,
         MinutiaPoint *out, int cap) {
    Bits b;
    binarise(r, valid, b);
    thin(b);
    MinutiaPoint found[params::kMaxMinutiae * 4];
    int n = 0;
    for (int y = 1; y < kSide - 1 && n < params::kMaxMinutiae * 4; ++y)
        for (int x = 1; x < kSide - 1 && n < params::kMaxMinutiae * 4; ++x) {
            const int i = y * kSide + x;
            if (!b[i] || edge[i] < params::kMinutiaEdgeDistance) continue;
            const int cn = crossing_number(neighbourhood(b, y, x));
            if (cn == 1 || cn == 3) found[n++] = {y, x, false};
        }
    // Two minutiae close together are a broken ridge, a spur or a bridge:
    // noise, not detail.
    bool drop[params::kMaxMinutiae * 4] = {};
    const int r2 = params::kMinutiaMinSpacing * params::kMinutiaMinSpacing;
    for (int a = 0; a < n; ++a)
        for (int c = a + 1; c < n; ++c) {
            const int dy = found[a].y - found[c].y, dx = found[a].x - found[c].x;
            if (dy * dy + dx * dx < r2) drop[a] = drop[c] = true;
        }
    int kept = 0;
    for (int a = 0; a < n && kept < cap; ++a)
        if (!drop[a]) out[kept++] = found[a];
    return kept;
}

}  // namespace

MinutiaeAgreement pair_minutiae(const RidgeView &stored, const RidgeView &probe, MinutiaeLayout *layout) {
    Bits valid;
    for (int i = 0; i < params::kPixels; ++i) valid[i] = stored.weight[i] > 0.5f && probe.weight[i] > 0.5f;
    std::array<std::uint8_t, params::kPixels> edge;
    edge_distance(valid, edge);
    MinutiaeLayout local;
    MinutiaeLayout &m = layout ? *layout : local;
    MinutiaeAgreement a;
    a.stored = find(stored, valid, edge, m.stored, params::kMaxMinutiae);
    a.probe = find(probe, valid, edge, m.probe, params::kMaxMinutiae);
    // Greedy pairing, each probe minutia with the nearest free stored one.
    const int r2 = params::kMinutiaPairRadius * params::kMinutiaPairRadius;
    for (int i = 0; i < a.probe; ++i) {
        int best = -1, best_d = r2 + 1;
        for (int j = 0; j < a.stored; ++j) {
            const int dy = m.probe[i].y - m.stored[j].y, dx = m.probe[i].x - m.stored[j].x, d = dy * dy + dx * dx;
            if (!m.stored[j].paired && d < best_d) best = j, best_d = d;
        }
        if (best >= 0) {
            m.stored[best].paired = m.probe[i].paired = true;
            ++a.paired;
        }
    }
    return a;
}

}  // namespace fpalg

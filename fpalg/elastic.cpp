#include "elastic.h"

#include <algorithm>

#include "verify.h"

namespace fpalg {
namespace {
constexpr int G = params::kBlockGrid;
constexpr int R = params::kElasticReach;
constexpr int W = 2 * R + 1;
constexpr float kMissing = -2.0f;

// Correlation of every block at every shift within reach.
struct Surfaces {
    float ncc[G * G][W * W];
    bool compared[G * G];
};

void measure(const RidgeView &stored, const RidgeView &probe, Surfaces &s) {
    const int b = params::kBlock;
    const PairedRidges pair(stored, probe);
    for (int gy = 0; gy < G; ++gy)
        for (int gx = 0; gx < G; ++gx) {
            const int k = gy * G + gx;
            s.compared[k] = false;
            for (int sy = -R; sy <= R; ++sy)
                for (int sx = -R; sx <= R; ++sx) {
                    int n = 0;
                    const float r = pair.region_ncc(sy, sx, gy * b, gy * b + b, gx * b, gx * b + b, n);
                    const bool ok = n >= params::kBlockMinValid;
                    s.ncc[k][(sy + R) * W + sx + R] = ok ? r : kMissing;
                    // A block counts when it is comparable where the rigid pose puts it.
                    if (ok && sy == 0 && sx == 0) s.compared[k] = true;
                }
        }
}

// Cost of a block's shift given its compared 4-neighbours' current shifts:
// squared distance from each, and from the rigid pose.
float cost(const Surfaces &s, const ElasticFit &f, int gy, int gx, int sy, int sx) {
    const int k = gy * G + gx;
    const float r = s.ncc[k][(sy + R) * W + sx + R];
    if (r <= kMissing) return 1e9f;
    float pull = params::kElasticAnchor * static_cast<float>(sy * sy + sx * sx);
    const int ny[4] = {gy - 1, gy + 1, gy, gy}, nx[4] = {gx, gx, gx - 1, gx + 1};
    for (int i = 0; i < 4; ++i) {
        if (ny[i] < 0 || nx[i] < 0 || ny[i] >= G || nx[i] >= G || !s.compared[ny[i] * G + nx[i]]) continue;
        const int n = ny[i] * G + nx[i];
        const int ey = sy - f.dy[n], ex = sx - f.dx[n];
        pull += params::kElasticStiffness * static_cast<float>(ey * ey + ex * ex);
    }
    return pull - r;
}

}  // namespace

ElasticFit fit_displacement(const RidgeView &stored, const RidgeView &probe) {
    static thread_local Surfaces s;
    measure(stored, probe, s);
    ElasticFit f;
    // Iterated conditional modes: each block in turn takes the shift that is
    // best given its neighbours; a few sweeps settle the field.
    for (int sweep = 0; sweep < params::kElasticSweeps; ++sweep) {
        bool moved = false;
        for (int gy = 0; gy < G; ++gy)
            for (int gx = 0; gx < G; ++gx) {
                const int k = gy * G + gx;
                if (!s.compared[k]) continue;
                int by = f.dy[k], bx = f.dx[k];
                float best = cost(s, f, gy, gx, by, bx);
                for (int sy = -R; sy <= R; ++sy)
                    for (int sx = -R; sx <= R; ++sx) {
                        const float c = cost(s, f, gy, gx, sy, sx);
                        if (c < best) {
                            best = c;
                            by = sy;
                            bx = sx;
                        }
                    }
                moved |= by != f.dy[k] || bx != f.dx[k];
                f.dy[k] = static_cast<signed char>(by);
                f.dx[k] = static_cast<signed char>(bx);
            }
        if (!moved) break;
    }
    float sum = 0.0f;
    for (int k = 0; k < G * G; ++k) {
        if (!s.compared[k]) continue;
        const float r = s.ncc[k][(f.dy[k] + R) * W + f.dx[k] + R];
        ++f.blocks;
        sum += r;
        f.good_blocks += r > params::kBlockGoodNcc;
    }
    f.block_ncc = f.blocks ? sum / static_cast<float>(f.blocks) : 0.0f;
    return f;
}

}  // namespace fpalg

#include "master.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string>

#include "detmath.h"
#include "ridge_growth.h"
#include "value_noise.h"

namespace fpgen {

namespace {

enum Stream : uint64_t {
    kStreamClass = 1,
    kStreamShape,
    kStreamField,
    kStreamSeeds,
    kStreamDetail = 24,
    kStreamBend = 25
};

constexpr size_t kCacheSize = 32; // about 290 KB each

// Creases and scars: thin furrows where no ridge touches the glass. Creases
// run roughly across the finger, mostly on its lower half, and bend a
// little; a scar may run any way. Each is a quadratic curve with a soft
// edge, pressed into the grown ridges so every impression of the finger
// shows it in the same place.
void add_furrows(Master &m, Rng &rng)
{
    const int creases = static_cast<int>(rng.below(5)); // 0..4
    const bool scar = rng.uniform() < 0.1;
    for (int k = 0; k < creases + (scar ? 1 : 0); ++k) {
        const bool is_scar = k == creases;
        const double x0 = m.cx + rng.uniform(-0.8, 0.8) * m.half_width;
        const double y0 = m.cy + rng.uniform(is_scar ? -0.8 : -0.3, 1.0) * m.half_top;
        const double angle = is_scar ? rng.uniform(0.0, kPi) : rng.uniform(-0.45, 0.45);
        const double half_len = rng.uniform(is_scar ? 15.0 : 30.0, is_scar ? 60.0 : 140.0);
        const double bow = rng.uniform(-0.004, 0.004); // curvature along the furrow
        const double width = rng.uniform(is_scar ? 2.0 : 1.0, is_scar ? 4.5 : 3.0);
        const double depth = rng.uniform(0.6, 1.0);
        const double c = det_cos(angle);
        const double s = det_sin(angle);
        const double reach = half_len + width + 3.0;
        const int xa = std::max(0, static_cast<int>(x0 - reach));
        const int xb = std::min(m.width - 1, static_cast<int>(x0 + reach));
        const int ya = std::max(0, static_cast<int>(y0 - reach));
        const int yb = std::min(m.height - 1, static_cast<int>(y0 + reach));
        for (int y = ya; y <= yb; ++y)
            for (int x = xa; x <= xb; ++x) {
                const double dx = x - x0;
                const double dy = y - y0;
                const double along = c * dx + s * dy;
                if (along < -half_len || along > half_len)
                    continue;
                const double across = std::fabs(-s * dx + c * dy - bow * along * along);
                // Full depth inside the furrow, fading over 1.5 px, and
                // tapering towards both ends.
                const double edge = std::clamp((width + 1.5 - across) / 1.5, 0.0, 1.0);
                const double taper = std::clamp((half_len - std::fabs(along)) / 12.0, 0.0, 1.0);
                const double t = depth * edge * taper;
                if (t <= 0.0)
                    continue;
                int16_t &v = m.ridge[static_cast<size_t>(y) * m.width + x];
                v = static_cast<int16_t>(std::lround(v + (-kRidgeOne - v) * t));
            }
    }
}

// Skin detail a grown pattern lacks: ridges that swell and thin along their
// course (breaking where they thin most) and pores, small openings on the
// ridge crests. Both are the finger's own, the same in every impression.
void add_skin_detail(Master &m, Rng &rng)
{
    const ValueNoise swell(rng, m.width, m.height, rng.uniform(7.0, 12.0));
    const double swell_gain = rng.uniform(0.04, 0.14) * kRidgeOne;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            int16_t &v = m.ridge[static_cast<size_t>(y) * m.width + x];
            const long t = std::lround(v + swell_gain * swell.at(x, y));
            v = static_cast<int16_t>(std::clamp<long>(t, -kRidgeOne, kRidgeOne));
        }
    const uint32_t pores = static_cast<uint32_t>(m.width) * m.height / (60u + rng.below(60));
    for (uint32_t k = 0; k < pores; ++k) {
        const int px = 1 + static_cast<int>(rng.below(static_cast<uint32_t>(m.width - 2)));
        const int py = 1 + static_cast<int>(rng.below(static_cast<uint32_t>(m.height - 2)));
        if (m.ridge[static_cast<size_t>(py) * m.width + px] < kRidgeOne / 2)
            continue; // only on crests
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                int16_t &v = m.ridge[static_cast<size_t>(py + dy) * m.width + px + dx];
                const int drop = (dx == 0 && dy == 0) ? 2 * kRidgeOne : kRidgeOne * 3 / 4;
                v = static_cast<int16_t>(std::max(-kRidgeOne, v - drop));
            }
    }
}

// Each finger's own small-scale bends: the grown ridges are moved by a
// smooth displacement of up to 8 px over about 36 px. Unlike a bend of the
// orientation field, which the growth answers with extra endings and forks,
// a displacement keeps every ridge whole, so fingers of one class stop
// looking alike without growing more minutiae than real ones have.
void bend_ridges(Master &m, Rng &rng)
{
    constexpr double kShift = 8.0;
    const ValueNoise shift_x(rng, m.width, m.height, 36.0);
    const ValueNoise shift_y(rng, m.width, m.height, 36.0);
    const Master grown = m;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            const double v = grown.ridge_at(x + kShift * shift_x.at(x, y), y + kShift * shift_y.at(x, y));
            m.ridge[static_cast<size_t>(y) * m.width + x] = static_cast<int16_t>(std::lround(v * kRidgeOne));
        }
}

} // namespace

double Master::ridge_at(double x, double y) const
{
    if (!(x >= 0.0 && y >= 0.0 && x <= width - 1.0 && y <= height - 1.0))
        return 0.0;
    const int ix = std::min(static_cast<int>(x), width - 2);
    const int iy = std::min(static_cast<int>(y), height - 2);
    const double fx = x - ix;
    const double fy = y - iy;
    const int16_t *r0 = &ridge[static_cast<size_t>(iy) * width + ix];
    const int16_t *r1 = r0 + width;
    const double top = r0[0] + (r0[1] - r0[0]) * fx;
    const double bottom = r1[0] + (r1[1] - r1[0]) * fx;
    return (top + (bottom - top) * fy) * (1.0 / kRidgeOne);
}

double Master::inside(double x, double y) const
{
    const double nx = (x - cx) / half_width;
    const double ny = (y - cy) / (y < cy ? half_top : half_bottom);
    const double r = std::sqrt(nx * nx + ny * ny);
    // Soft edge about 8 px wide.
    const double t = std::clamp((1.0 - r) * half_width / 8.0, 0.0, 1.0);
    // The canvas ends below the fingertip; fade there too.
    const double edge = std::min({x, y, width - 1.0 - x, height - 1.0 - y});
    const double e = std::clamp(edge / 8.0, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t) * e;
}

void check_finger(int finger)
{
    if (finger < 0)
        throw std::invalid_argument("finger number must not be negative: " + std::to_string(finger));
}

PatternClass pattern_class(uint32_t seed, int finger, Style style)
{
    check_finger(finger);
    Rng rng(stream_key(seed, static_cast<uint64_t>(finger), 0, kStreamClass));
    return draw_pattern_class(rng, style != Style::easy);
}

Master make_master(uint32_t seed, int finger, int w, int h, Style style)
{
    check_finger(finger);
    if (w < 16 || h < 16 || w > kMaxSide || h > kMaxSide)
        throw std::invalid_argument("master size out of range: " + std::to_string(w) + "x" + std::to_string(h));
    const uint64_t f = static_cast<uint64_t>(finger);
    const bool real = style != Style::easy;
    Master m;
    m.width = w;
    m.height = h;

    Rng shape(stream_key(seed, f, 0, kStreamShape));
    const double scale = std::min(w / static_cast<double>(kMasterWidth), h / static_cast<double>(kMasterHeight));
    m.cx = w * 0.5 + shape.uniform(-6.0, 6.0) * scale;
    m.cy = h * 0.47 + shape.uniform(-6.0, 6.0) * scale;
    m.half_width = shape.uniform(122.0, 148.0) * scale;
    m.half_top = m.half_width * shape.uniform(1.1, 1.3);
    m.half_bottom = m.half_top * 1.8;

    Rng field(stream_key(seed, f, 0, kStreamField));
    m.model = make_orientation_model(field, pattern_class(seed, finger, style), m.cx, m.cy, real);
    const ValueNoise wobble(field, w, h, 56.0);
    const ValueNoise spacing(field, w, h, 64.0);
    const double mean_period = field.uniform(real ? 8.0 : 8.4, real ? 10.2 : 10.8);

    // Real fingers differ more than the first model's: the flow bends on a
    // smaller scale too, the ridges run closer towards the tip than near the
    // joint, and the ridge period wanders more. Drawn from a stream of its
    // own, so the first model's numbers stay as they were.
    Rng detail(stream_key(seed, f, 0, kStreamDetail));
    const double wobble_gain = real ? detail.uniform(0.12, 0.26) : 0.18;
    const ValueNoise kink(detail, w, h, 24.0);
    const double kink_gain = real ? detail.uniform(0.072, 0.18) : 0.0; // the rest is bend_ridges'
    const ValueNoise wander(detail, w, h, 28.0);
    const double spacing_gain = real ? detail.uniform(0.6, 1.4) : 1.0;
    const double wander_gain = real ? detail.uniform(0.3, 0.8) : 0.0;
    const double slope = real ? detail.uniform(0.0, 0.008) : 0.0; // px of period per px down
    const uint32_t seed_density = real ? 2 + detail.below(2) : 4; // per 1000 pixels

    // The fields are smooth and their bins coarse, so one evaluation per
    // 2x2 pixel cell is enough and halves the master's cost.
    std::vector<uint8_t> orient(static_cast<size_t>(w) * h);
    std::vector<uint8_t> period(orient.size());
    for (int y = 0; y < h; y += 2)
        for (int x = 0; x < w; x += 2) {
            const double px = x + 0.5;
            const double py = y + 0.5;
            double bend = wobble_gain * wobble.at(px, py);
            double p = mean_period + spacing.at(px, py);
            if (real) {
                bend += kink_gain * kink.at(px, py);
                p = mean_period + spacing_gain * spacing.at(px, py) + wander_gain * wander.at(px, py) +
                    slope * (py - m.cy);
            }
            const double theta = wrap_pi(m.model.at(px, py) + bend);
            const auto ob = static_cast<uint8_t>(orientation_bin(theta));
            const auto pb = static_cast<uint8_t>(period_bin(p));
            for (int yy = y; yy < std::min(y + 2, h); ++yy)
                for (int xx = x; xx < std::min(x + 2, w); ++xx) {
                    orient[static_cast<size_t>(yy) * w + xx] = ob;
                    period[static_cast<size_t>(yy) * w + xx] = pb;
                }
        }

    Rng seeds(stream_key(seed, f, 0, kStreamSeeds));
    m.ridge = grow_ridges(w, h, orient, period, seeds, seed_density);
    if (real) {
        Rng bend(stream_key(seed, f, 0, kStreamBend));
        bend_ridges(m, bend);
        add_skin_detail(m, detail);
        add_furrows(m, detail);
    }
    return m;
}

std::shared_ptr<const Master> cached_master(uint32_t seed, int finger, Style style)
{
    const bool real = style != Style::easy;
    struct Entry {
        uint32_t seed;
        int finger;
        bool real;
        std::shared_ptr<const Master> master;
    };
    static std::mutex mutex;
    static std::list<Entry> cache; // most recently used first

    {
        std::lock_guard lock(mutex);
        for (auto it = cache.begin(); it != cache.end(); ++it)
            if (it->seed == seed && it->finger == finger && it->real == real) {
                cache.splice(cache.begin(), cache, it);
                return cache.front().master;
            }
    }
    // Built outside the lock: two threads may build the same master at once,
    // which costs time but gives identical results.
    auto built = std::make_shared<const Master>(make_master(seed, finger, kMasterWidth, kMasterHeight, style));
    std::lock_guard lock(mutex);
    for (const auto &e : cache)
        if (e.seed == seed && e.finger == finger && e.real == real)
            return e.master;
    cache.push_front(Entry{seed, finger, real, built});
    if (cache.size() > kCacheSize)
        cache.pop_back();
    return built;
}

} // namespace fpgen

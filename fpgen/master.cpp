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

enum Stream : uint64_t { kStreamClass = 1, kStreamShape, kStreamField, kStreamSeeds };

constexpr size_t kCacheSize = 32; // about 290 KB each

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

PatternClass pattern_class(uint32_t seed, int finger)
{
    check_finger(finger);
    Rng rng(stream_key(seed, static_cast<uint64_t>(finger), 0, kStreamClass));
    return draw_pattern_class(rng);
}

Master make_master(uint32_t seed, int finger, int w, int h)
{
    check_finger(finger);
    if (w < 16 || h < 16 || w > kMaxSide || h > kMaxSide)
        throw std::invalid_argument("master size out of range: " + std::to_string(w) + "x" + std::to_string(h));
    const uint64_t f = static_cast<uint64_t>(finger);
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
    m.model = make_orientation_model(field, pattern_class(seed, finger), m.cx, m.cy);
    const ValueNoise wobble(field, w, h, 56.0);
    const ValueNoise spacing(field, w, h, 64.0);
    const double mean_period = field.uniform(8.4, 10.8);

    // The fields are smooth and their bins coarse, so one evaluation per
    // 2x2 pixel cell is enough and halves the master's cost.
    std::vector<uint8_t> orient(static_cast<size_t>(w) * h);
    std::vector<uint8_t> period(orient.size());
    for (int y = 0; y < h; y += 2)
        for (int x = 0; x < w; x += 2) {
            const double px = x + 0.5;
            const double py = y + 0.5;
            const double theta = wrap_pi(m.model.at(px, py) + 0.18 * wobble.at(px, py));
            const auto ob = static_cast<uint8_t>(orientation_bin(theta));
            const auto pb = static_cast<uint8_t>(period_bin(mean_period + spacing.at(px, py)));
            for (int yy = y; yy < std::min(y + 2, h); ++yy)
                for (int xx = x; xx < std::min(x + 2, w); ++xx) {
                    orient[static_cast<size_t>(yy) * w + xx] = ob;
                    period[static_cast<size_t>(yy) * w + xx] = pb;
                }
        }

    Rng seeds(stream_key(seed, f, 0, kStreamSeeds));
    m.ridge = grow_ridges(w, h, orient, period, seeds);
    return m;
}

std::shared_ptr<const Master> cached_master(uint32_t seed, int finger)
{
    struct Entry {
        uint32_t seed;
        int finger;
        std::shared_ptr<const Master> master;
    };
    static std::mutex mutex;
    static std::list<Entry> cache; // most recently used first

    {
        std::lock_guard lock(mutex);
        for (auto it = cache.begin(); it != cache.end(); ++it)
            if (it->seed == seed && it->finger == finger) {
                cache.splice(cache.begin(), cache, it);
                return cache.front().master;
            }
    }
    // Built outside the lock: two threads may build the same master at once,
    // which costs time but gives identical results.
    auto built = std::make_shared<const Master>(make_master(seed, finger, kMasterWidth, kMasterHeight));
    std::lock_guard lock(mutex);
    for (const auto &e : cache)
        if (e.seed == seed && e.finger == finger)
            return e.master;
    cache.push_front(Entry{seed, finger, built});
    if (cache.size() > kCacheSize)
        cache.pop_back();
    return built;
}

} // namespace fpgen

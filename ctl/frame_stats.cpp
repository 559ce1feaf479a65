// Frame statistics for `vorl2547-ctl capture`. They only describe a frame for
// a person; the matcher makes its own decisions.
#include "ctl/frame_stats.h"

#include <algorithm>

#include "engine/finger_presence.h"

namespace {

constexpr int SIDE = VL_IMG_SIDE;
// A ridge pixel is this much darker than the mean around it (12-bit counts,
// about 1.5% of the range): well above a bare sensor's noise.
constexpr int RIDGE_DEPTH = 64;
constexpr int RIDGE_RADIUS = 4; // 9 x 9 neighbourhood

} // namespace

FrameStats frameStats(const uint16_t *samples)
{
    FrameStats s;
    s.min = *std::min_element(samples, samples + VL_IMG_PIXELS);
    s.max = *std::max_element(samples, samples + VL_IMG_PIXELS);
    double sum = 0;
    for (int i = 0; i < VL_IMG_PIXELS; ++i)
        sum += samples[i];
    s.mean = sum / VL_IMG_PIXELS;

    // Summed-area table for the neighbourhood means.
    static long long integral[(SIDE + 1) * (SIDE + 1)];
    for (int y = 0; y <= SIDE; ++y)
        for (int x = 0; x <= SIDE; ++x)
            integral[y * (SIDE + 1) + x] =
                (x == 0 || y == 0) ? 0
                                   : samples[(y - 1) * SIDE + x - 1] + integral[(y - 1) * (SIDE + 1) + x] +
                                         integral[y * (SIDE + 1) + x - 1] - integral[(y - 1) * (SIDE + 1) + x - 1];
    int ridge = 0;
    for (int y = 0; y < SIDE; ++y) {
        for (int x = 0; x < SIDE; ++x) {
            const int y0 = std::max(0, y - RIDGE_RADIUS), y1 = std::min(SIDE, y + RIDGE_RADIUS + 1);
            const int x0 = std::max(0, x - RIDGE_RADIUS), x1 = std::min(SIDE, x + RIDGE_RADIUS + 1);
            const long long area = static_cast<long long>(y1 - y0) * (x1 - x0);
            const long long box = integral[y1 * (SIDE + 1) + x1] - integral[y0 * (SIDE + 1) + x1] -
                                  integral[y1 * (SIDE + 1) + x0] + integral[y0 * (SIDE + 1) + x0];
            if (static_cast<long long>(samples[y * SIDE + x] + RIDGE_DEPTH) * area < box)
                ++ridge;
        }
    }
    s.ridgeShare = static_cast<double>(ridge) / VL_IMG_PIXELS;

    // The daemon's own test, so that "finger no" means the daemon would not
    // take this frame either.
    s.coverage = fingerCoverage(samples);
    s.fingerPresent = fingerPresent(samples);
    return s;
}

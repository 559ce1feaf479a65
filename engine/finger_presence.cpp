#include "engine/finger_presence.h"

#include <algorithm>

#include "protocol/sensor_frames.h"

namespace {

constexpr int SIDE = VL_IMG_SIDE;
constexpr int BLOCK = 8;
// Ridges and valleys differ by hundreds of counts even on a faint print;
// read noise of a few tens of counts gives an interquartile range well
// below this.
constexpr int TEXTURE_IQR = 150;

} // namespace

double fingerCoverage(const uint16_t *samples)
{
    int columnMean[SIDE];
    for (int x = 0; x < SIDE; ++x) {
        int sum = 0;
        for (int y = 0; y < SIDE; ++y)
            sum += samples[y * SIDE + x];
        columnMean[x] = sum / SIDE;
    }
    int textured = 0;
    int block[BLOCK * BLOCK];
    for (int by = 0; by < SIDE; by += BLOCK) {
        for (int bx = 0; bx < SIDE; bx += BLOCK) {
            int n = 0;
            for (int y = by; y < by + BLOCK; ++y)
                for (int x = bx; x < bx + BLOCK; ++x)
                    block[n++] = samples[y * SIDE + x] - columnMean[x];
            std::sort(block, block + n);
            if (block[n * 3 / 4] - block[n / 4] >= TEXTURE_IQR)
                ++textured;
        }
    }
    return static_cast<double>(textured) / ((SIDE / BLOCK) * (SIDE / BLOCK));
}

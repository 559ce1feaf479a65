#include "quantise.h"

#include <algorithm>
#include <vector>

namespace fpalg {
namespace {

using params::kMaskBlock;
using params::kMaskGrid;
using params::kSide;

std::uint8_t level_of(std::int32_t band, std::int64_t energy) {
    const std::int64_t t = params::kLevelThresholdSixteenths;
    const bool strong = static_cast<std::int64_t>(band) * band * 256 > t * t * energy;
    if (band < 0) return strong ? 0 : 1;
    return strong ? 3 : 2;
}

int foreground_blocks(const RidgeImage &r, View &view) {
    std::array<std::int64_t, kMaskGrid * kMaskGrid> block{};
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const std::int64_t b = r.band[y * kSide + x];
            block[(y / kMaskBlock) * kMaskGrid + x / kMaskBlock] += b * b;
        }
    std::vector<std::int64_t> sorted(block.begin(), block.end());
    std::sort(sorted.begin(), sorted.end());
    const std::int64_t p90 = sorted[sorted.size() * 9 / 10];
    const std::int64_t area = kMaskBlock * kMaskBlock;
    const std::int64_t floor = static_cast<std::int64_t>(params::kMaskEnergyFloor) * 65536 * area;
    int on = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
        const bool fg = block[i] > floor && block[i] * 64 > p90 * params::kMaskRelativeSixtyFourths;
        view.mask[i] = fg;
        on += fg;
    }
    return on;
}

}  // namespace

int quantise_view(const RidgeImage &ridges, View &view) {
    for (int i = 0; i < params::kPixels; ++i) view.level[i] = level_of(ridges.band[i], ridges.energy[i]);
    return foreground_blocks(ridges, view);
}

}  // namespace fpalg

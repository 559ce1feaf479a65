// A grid of impressions for looking at many prints at once.
#include <algorithm>
#include <stdexcept>

#include "fpgen.h"
#include "impression.h"

namespace fpgen {

Image contact_sheet(uint32_t seed, int fingers, int impressions, int tile, Style style)
{
    constexpr int kGap = 4;
    if (fingers < 1 || impressions < 1 || fingers > 64 || impressions > 64)
        throw std::invalid_argument("contact sheet needs 1..64 fingers and impressions");
    check_size(tile, tile);
    const long wl = static_cast<long>(impressions) * (tile + kGap) + kGap;
    const long hl = static_cast<long>(fingers) * (tile + kGap) + kGap;
    if (wl > kMaxSide * 4 || hl > kMaxSide * 4)
        throw std::invalid_argument("contact sheet too large");
    Image sheet;
    sheet.width = static_cast<int>(wl);
    sheet.height = static_cast<int>(hl);
    sheet.pixels.assign(static_cast<size_t>(wl) * hl, 255);
    for (int f = 0; f < fingers; ++f)
        for (int i = 0; i < impressions; ++i) {
            const Impression img = render_impression(seed, f, i, tile, tile, style);
            const int x0 = kGap + i * (tile + kGap);
            const int y0 = kGap + f * (tile + kGap);
            for (int y = 0; y < tile; ++y)
                std::copy_n(&img.pixels[static_cast<size_t>(y) * tile], tile,
                            &sheet.pixels[static_cast<size_t>(y0 + y) * sheet.width + x0]);
        }
    return sheet;
}

} // namespace fpgen

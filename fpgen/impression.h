// Internal: the impression as floating-point intensities in [0, 1] (before
// clamping), shared by the 8-bit and the 12-bit outputs.
#pragma once

#include <cstdint>
#include <vector>

namespace fpgen {

void check_size(int w, int h);
std::vector<double> render_intensity(uint32_t seed, int finger, int impression, int w, int h);

} // namespace fpgen

// Band-pass filtering of a capture in integer arithmetic, so that template
// bytes are identical on every CPU: a small binomial blur minus a wide
// background estimate, and the local ridge energy used to normalise it.
#pragma once

#include <array>
#include <cstdint>

#include "params.h"

namespace fpalg {

using IntImage = std::array<std::int32_t, params::kPixels>;
using EnergyImage = std::array<std::int64_t, params::kPixels>;

struct RidgeImage {
    IntImage band{};       // band-passed ridges, 10-bit units times 256
    EnergyImage energy{};  // local mean of band squared
};

// image: 96 x 96 samples, values above 1023 are clipped.
void band_pass(const std::uint16_t *image, RidgeImage &out);

}  // namespace fpalg

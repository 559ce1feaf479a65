// Grows a ridge pattern from sparse noise by iterated Gabor filtering: each
// pass filters every pixel with a Gabor kernel tuned to the local ridge
// orientation and period, amplifies and clips. Ridges spread out from the
// seeds and settle into a pattern that follows the field; where ridge flows
// from different seeds meet, endings and bifurcations form on their own.
//
// The arithmetic is integer (Q10 samples and kernels), so the result is
// exactly reproducible and the inner loop vectorises.
#pragma once

#include <cstdint>
#include <vector>

#include "rng.h"

namespace fpgen {

constexpr int kOrientBins = 32; // over [0, pi)
constexpr int kPeriodBins = 12; // periods kPeriodMin + 0.5 * bin
constexpr double kPeriodMin = 7.0;
constexpr int kRidgeOne = 1024; // Q10 amplitude of a ridge crest

int orientation_bin(double theta); // theta in [0, pi)
int period_bin(double period);

// orient/period: one bin per pixel of the w x h canvas; seed_density: seeds
// per 1000 pixels. Returns Q10 samples in [-kRidgeOne, kRidgeOne], positive
// on ridges.
std::vector<int16_t> grow_ridges(int w, int h, const std::vector<uint8_t> &orient, const std::vector<uint8_t> &period,
                                 Rng &rng, uint32_t seed_density = 4);

} // namespace fpgen

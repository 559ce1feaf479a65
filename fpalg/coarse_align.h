// Coarse alignment: phase-only correlation of half-resolution ridge images,
// band-limited to ridge frequencies, finds the shift of a rotated probe over
// a stored view. A histogram of ridge directions taken from the same
// spectrum (it does not depend on the shift) picks the rotations worth
// correlating.
#pragma once

#include <array>

#include "fft.h"
#include "view_image.h"

namespace fpalg {

using DirectionProfile = std::array<float, params::kProfileBins>;

// Phase-only spectrum of the ridges at half resolution, ready to correlate,
// and the zero-mean, unit-norm energy histogram of ridge directions.
void phase_spectrum(const RidgeView &ridges, Spectrum &out, DirectionProfile &profile);

float profile_agreement(const DirectionProfile &a, const DirectionProfile &b);

struct Peak {
    float height = 0.0f;  // correlation peak, 0..1
    int dy = 0, dx = 0;   // full-resolution shift: probe pixel p lies on view pixel p + (dy, dx)
};

// Best shifts of two probes over one view in one inverse transform (the
// two correlations are real, so they share one complex transform).
void correlate_pair(const Spectrum &view, const Spectrum &probe_a, const Spectrum &probe_b, Spectrum &work,
                    Peak &a, Peak &b);

}  // namespace fpalg

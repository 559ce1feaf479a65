// Coarse alignment: phase-only correlation of half-resolution ridge images,
// band-limited to ridge frequencies, finds the shift of a rotated probe over
// a stored view.
#pragma once

#include "fft.h"
#include "view_image.h"

namespace fpalg {

// Phase-only spectrum of the ridges at half resolution, ready to correlate.
void phase_spectrum(const RidgeView &ridges, Spectrum &out);

struct Peak {
    float height = 0.0f;  // correlation peak, 0..1
    int dy = 0, dx = 0;   // full-resolution shift: probe pixel p lies on view pixel p + (dy, dx)
};

// Best shifts of two probes over one view in one inverse transform (the
// two correlations are real, so they share one complex transform).
void correlate_pair(const Spectrum &view, const Spectrum &probe_a, const Spectrum &probe_b, Spectrum &work,
                    Peak &a, Peak &b);

}  // namespace fpalg

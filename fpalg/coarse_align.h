// Coarse alignment: phase-only correlation of half-resolution ridge images,
// band-limited to ridge frequencies, finds the shift of a rotated probe over
// a stored view; the angle search tries the probe's rotations on every
// stored view and keeps the best few alignments.
#pragma once

#include <vector>

#include "fft.h"
#include "spectrum_cache.h"
#include "view_image.h"

namespace fpalg {

// Phase-only spectrum of the ridges at half resolution, ready to correlate.
void phase_spectrum(const RidgeView &ridges, Spectrum &out);

struct Peak {
    float height = 0.0f;  // correlation peak, 0..1
    int dy = 0, dx = 0;   // full-resolution shift: probe pixel p lies on view pixel p + (dy, dx)
};

// A band spectrum spread over the lanes the inverse transform works on:
// each band row (in kBand's order) as its columns 0 .. 23 and 40 .. 63,
// the transform's groups of eight lanes that hold any of the band, and +0
// outside the band. The correlation reads it in whole vectors, loaded
// with memcpy: no over-alignment is asked for, because a 32-byte aligned
// probe cache made every thread's workspace an aligned allocation, and
// glibc kept those of each finished thread (a daemon enrolling on a new
// thread per run grew by megabytes per run).
inline constexpr int kLowLaneGroups = (params::kPocBandHigh + 8) / 8;   // columns 0 .. kPocBandHigh
inline constexpr int kHighLaneGroups = (params::kPocBandHigh + 7) / 8;  // columns N - kPocBandHigh .. N - 1
inline constexpr int kBandLanes = 8 * (kLowLaneGroups + kHighLaneGroups);
struct LaneSpectrum {
    std::array<float, kBandRows * kBandLanes> re{};
    std::array<float, kBandRows * kBandLanes> im{};
    int bins = 0;  // non-zero bins
};
void spread_band(const BandSpectrum &band, LaneSpectrum &out);

// Best shifts of two probes over one view in one inverse transform (the
// two correlations are real, so they share one complex transform).
void correlate_pair(const LaneSpectrum &view, const LaneSpectrum &probe_a, const LaneSpectrum &probe_b, Spectrum &work,
                    Peak &a, Peak &b);

// The probe is tried at kAngleCount rotations; index k turns it by this many
// tenths of a degree (the middle index is upright).
constexpr int angle_of(int k) { return (k - params::kAngleCount / 2) * params::kAngleStepDeciDeg; }

// Everything derived from one probe view: its ridges at each rotation the
// search asked for and their spectra. Verification compares many templates
// with one probe, so this is worth keeping between calls.
struct ProbeCache {
    View source{};
    bool valid = false;
    RidgeView upright;
    bool ready[params::kAngleCount] = {};
    RidgeView rotated[params::kAngleCount];
    LaneSpectrum spectrum[params::kAngleCount];
    Spectrum work;      // a rotation's full spectrum, before its band is kept
    BandSpectrum band;  // and its band
};

// Makes `cache` hold `probe` unless it already does; rotations are made
// when first asked for.
ProbeCache &prepare_probe(ProbeCache &cache, const View &probe);

// Makes rotation index k of the cached probe (rotated ridges and spectrum).
void ensure_angle(ProbeCache &cache, int k);

// The probe at rotation index `angle` over stored view `view`.
struct Candidate {
    int view, angle;
    Peak peak;
};

// Spectra the search works in, kept by the caller so that no call allocates.
struct CoarseWork {
    Spectrum view, work;
    BandSpectrum band;  // the stored view's, fresh or from the cache
    LaneSpectrum lanes;  // the same, spread
};

// Coarse alignment of the probe's rotations on each of the stored views,
// best correlation peaks first, at most kCandidates.
std::vector<Candidate> coarse_candidates(const Template &stored, const StoredRidges &views, ProbeCache &probe,
                                         CoarseWork &w);

// Keeps the kVerified candidates whose whole-overlap correlation at the
// peak, weighed like the final evidence, is best.
void screen_candidates(const StoredRidges &views, const ProbeCache &probe, std::vector<Candidate> &cands);

}  // namespace fpalg

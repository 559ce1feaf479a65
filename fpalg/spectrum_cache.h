// Phase-only spectra of stored views, kept between comparisons. The daemon
// compares the same templates on every touch and a benchmark compares each
// template with many probes; a stored view's spectrum is a forward transform
// that does not depend on the probe. Entries are keyed by the view's ridge
// levels and mask and compared in full, so a changed byte is never answered
// from the cache; the cache holds about 1,000 views (a hundred templates) in
// under 9 MiB and is shared by all threads.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "fft.h"
#include "template_format.h"

namespace fpalg {

// The coarse alignment's band: row u of a spectrum holds bins only where
// |u| <= kPocBandHigh, and there only the columns |v| <= band_reach(u)
// (signed bins); everything else of a phase-only spectrum is zero.
constexpr int band_reach(int signed_row) {
    int r = 0;
    while ((r + 1) * (r + 1) + signed_row * signed_row <= params::kPocBandHigh * params::kPocBandHigh) ++r;
    return r;
}

struct BandRow {
    int row = 0;     // u, the index in the full spectrum
    int reach = 0;   // columns 0 .. reach and N - reach .. N - 1
    int offset = 0;  // of its first bin in a BandSpectrum
};

inline constexpr int kBandRows = 2 * params::kPocBandHigh + 1;

struct BandLayout {
    BandRow rows[kBandRows]{};
    int bins = 0;
    constexpr BandLayout() {
        int k = 0;
        for (int su = -params::kPocBandHigh; su <= params::kPocBandHigh; ++su, ++k) {
            rows[k].row = su < 0 ? su + params::kFftSide : su;
            rows[k].reach = band_reach(su);
            rows[k].offset = bins;
            bins += 2 * rows[k].reach + 1;
        }
    }
};
inline constexpr BandLayout kBand{};

// The band of a phase-only spectrum (row by row: columns 0 .. reach, then
// N - reach .. N - 1), a third of the full spectrum's size.
struct BandSpectrum {
    std::array<float, kBand.bins> re{}, im{};
    int bins = 0;  // non-zero bins
};

// Copies the band of a full phase-only spectrum.
void keep_band(const Spectrum &full, BandSpectrum &out);

// Cache key: a view's ridge levels (packed) and mask.
std::string spectrum_key(const View &v);

// Writes the spectrum kept for `key` to `out`, bit for bit as it was kept;
// false when none is.
bool find_spectrum(const std::string &key, BandSpectrum &out);
void keep_spectrum(std::string key, const BandSpectrum &s);

// Entries the cache holds at most, and now.
inline constexpr std::size_t kSpectrumCacheEntries = 1024;
std::size_t cached_spectra();

}  // namespace fpalg

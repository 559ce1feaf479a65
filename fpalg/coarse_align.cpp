#include "coarse_align.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "simd_clones.h"
#include "verify.h"

namespace fpalg {
namespace {
constexpr int N = params::kFftSide;
constexpr int H = params::kHalf;
constexpr int kPad = (N - H) / 2;

constexpr int signed_bin(int u) { return u < N / 2 ? u : u - N; }

constexpr bool row_in_band(int u) {
    return signed_bin(u) <= params::kPocBandHigh && -signed_bin(u) <= params::kPocBandHigh;
}

// Column groups of the FFT's first pass that can hold anything: where the
// half-size image sits, and, in a spectrum, the frequencies inside the band.
constexpr unsigned groups_where(bool (*used)(int)) {
    unsigned g = 0;
    for (int j = 0; j < N; ++j)
        if (used(j)) g |= 1u << (j / 8);
    return g;
}
constexpr bool image_column(int x) { return x >= kPad && x < kPad + H; }
constexpr unsigned kImageGroups = groups_where(image_column);
constexpr unsigned kBandGroups = groups_where(row_in_band);
// A LaneSpectrum holds exactly these lane groups.
static_assert(kBandGroups == ((1u << kLowLaneGroups) - 1) + (0x100u - (1u << (8 - kHighLaneGroups))));

// Where a transform's input is written row by row (fft_input_row): a
// rotation's image, and the products of two spectra after the first two
// stages of the inverse transform. The latter's lanes outside kBandGroups are
// never written nor read (the transform leaves them out).
struct Scratch {
    Spectrum input, products;
};
Scratch &scratch() {
    thread_local std::unique_ptr<Scratch> s = std::make_unique<Scratch>();
    return *s;
}

bool in_band(int u, int v) {
    const int fu = signed_bin(u), fv = signed_bin(v);
    const int r2 = fu * fu + fv * fv;
    return r2 >= params::kPocBandLow * params::kPocBandLow && r2 <= params::kPocBandHigh * params::kPocBandHigh;
}

// Largest of n >= 8 values, eight at a time; the last eight overlap the
// ones before, which max does not mind (nor the order: max is exact).
using Oct = float __attribute__((vector_size(8 * sizeof(float))));

// The largest of a row's shifts within `reach` either way: columns 0 ..
// reach and N - reach .. N - 1, folded into one vector, then its lanes by
// halves. Which of +0 and -0 comes out of a tie between them may depend on
// the order; no comparison made with the result tells them apart.
[[gnu::always_inline]] inline float row_max(const float *row, int reach) {
    Oct m;
    std::memcpy(&m, row + reach + 1 - 8, sizeof m);
    const auto fold = [&m](const float *v, int n) {
        for (int x = 0; x + 8 < n; x += 8) {
            Oct c;
            std::memcpy(&c, v + x, sizeof c);
            m = c > m ? c : m;
        }
        Oct c;
        std::memcpy(&c, v + n - 8, sizeof c);
        m = c > m ? c : m;
    };
    fold(row, reach + 1);
    fold(row + N - reach, reach);
    Oct h = __builtin_shufflevector(m, m, 4, 5, 6, 7, 0, 1, 2, 3);
    m = h > m ? h : m;
    h = __builtin_shufflevector(m, m, 2, 3, 0, 1, 6, 7, 4, 5);
    m = h > m ? h : m;
    h = __builtin_shufflevector(m, m, 1, 0, 3, 2, 5, 4, 7, 6);
    m = h > m ? h : m;
    return m[0];
}

// The first of v[0 .. n) (n >= 8) equal to t, or n: eight at a time, the
// last eight overlapping the ones before (which held no match).
using Lanes = std::int32_t __attribute__((vector_size(8 * sizeof(std::int32_t))));
using Quads = std::uint64_t __attribute__((vector_size(4 * sizeof(std::uint64_t))));
[[gnu::always_inline]] inline int first_equal(const float *v, int n, float t) {
    for (int x = 0;; x += 8) {
        const int at = x + 8 < n ? x : n - 8;
        Oct c;
        std::memcpy(&c, v + at, sizeof c);
        const Lanes eq = c == t;
        const Quads any = reinterpret_cast<Quads>(eq);
        if ((any[0] | any[1] | any[2] | any[3]) != 0)
            for (int l = 0; l < 8; ++l)
                if (eq[l]) return at + l;
        if (at == n - 8) return n;
    }
}

// The scan in dy order, then dx, that keeps a position only when it beats
// the best so far ends on the first position, in that order, holding the
// largest value (if that beats the starting -1): the first row whose
// largest value that is, and there the first column holding it. So the
// rows' largest values are found first, without a branch on each.
FPALG_SIMD_CLONES Peak find_peak(const float *surface, float norm) {
    constexpr int kReach = H - params::kMinOverlapHalfPx;
    constexpr int kRows = 2 * kReach + 1;
    float tops[kRows];
    // Negative shifts wrap to the end of the surface and of each row.
    const auto row_of = [surface](int dy) { return surface + ((dy + N) % N) * N; };
    for (int r = 0; r < kRows; ++r) tops[r] = row_max(row_of(r - kReach), kReach);
    float top = -1.0f;
    for (int r = 0; r < kRows; ++r) top = tops[r] > top ? tops[r] : top;
    Peak best{-1.0f, 0, 0};
    int r = 0;
    while (r < kRows && !(tops[r] == top && top > -1.0f)) ++r;
    if (r < kRows) {
        const int dy = r - kReach;
        const float *row = row_of(dy);
        int dx = first_equal(row + N - kReach, kReach, top);
        dx = dx < kReach ? dx - kReach : first_equal(row, kReach + 1, top);
        if (dx <= kReach) best = {row[(dx + N) % N], dy, dx};  // else only if the surface held a NaN, which it cannot
    }
    best.height /= norm;
    best.dy *= 2;
    best.dx *= 2;
    return best;
}

constexpr int kAngles = params::kAngleCount;

bool same_view(const View &a, const View &b) { return a.level == b.level && a.mask == b.mask; }

// Rotations of the probe on one view: every third angle first, then the
// angles on either side of the best of those. The correlation peak falls off
// slowly enough with a rotation error of one or two steps that the best
// coarse angle lies next to the true one; this saves half the transforms.
void search_view(CoarseWork &w, const LaneSpectrum &view, ProbeCache &probe, int v, std::vector<Candidate> &cands) {
    // Rotations a and b (b may be a again) on this view, in one transform.
    const auto try_pair = [&](int a, int b) {
        ensure_angle(probe, a);
        ensure_angle(probe, b);
        Peak pa, pb;
        correlate_pair(view, probe.spectrum[a], probe.spectrum[b], w.work, pa, pb);
        cands.push_back({v, a, pa});
        if (b != a) cands.push_back({v, b, pb});
    };
    const std::size_t first = cands.size();
    constexpr int kStride = params::kCoarseAngleStride;
    // Start where the upright probe is among the angles tried first: most
    // touches land nearly upright.
    for (int k = (kAngles / 2) % kStride; k < kAngles; k += 2 * kStride)
        try_pair(k, k + kStride < kAngles ? k + kStride : k);
    std::size_t top = first;
    for (std::size_t i = first; i < cands.size(); ++i)
        if (cands[i].peak.height > cands[top].peak.height) top = i;
    const int k = cands[top].angle;
    const int lo = k - 1, hi = k + 1;
    if (lo >= 0 && hi < kAngles)
        try_pair(lo, hi);
    else
        try_pair(lo >= 0 ? lo : hi, lo >= 0 ? lo : hi);
}

}  // namespace

FPALG_SIMD_CLONES void phase_spectrum(const RidgeView &r, Spectrum &out) {
    Spectrum &in = scratch().input;
    in.re.fill(0.0f);
    in.im.fill(0.0f);
    constexpr int S = params::kSide;
    for (int y = 0; y < H; ++y) {
        float *row = &in.re[fft_input_row(y + kPad) * N];
        for (int x = 0; x < H; ++x) {
            const int i = 2 * y * S + 2 * x;
            const float v = r.value[i] + r.value[i + 1] + r.value[i + S] + r.value[i + S + 1];
            row[x + kPad] = 0.25f * v;
        }
    }
    // Frequencies outside the band are never read: the second pass leaves
    // out the lanes of those the first pass made.
    fft2d_from_reversed(in, out, false, kImageGroups, kBandGroups);
    out.bins = 0;
    for (int u = 0; u < N; ++u)
        for (int v = 0; v < N; ++v) {
            const int i = u * N + v;
            const float m = std::sqrt(out.re[i] * out.re[i] + out.im[i] * out.im[i]);
            if (!in_band(u, v) || m < 1e-6f) {
                out.re[i] = out.im[i] = 0.0f;
                continue;
            }
            ++out.bins;
            out.re[i] /= m;
            out.im[i] /= m;
        }
}

void spread_band(const BandSpectrum &band, LaneSpectrum &out) {
    out.re.fill(0.0f);
    out.im.fill(0.0f);
    for (int k = 0; k < kBandRows; ++k) {
        const BandRow &r = kBand.rows[k];
        float *re = &out.re[k * kBandLanes], *im = &out.im[k * kBandLanes];
        for (int v = 0; v <= r.reach; ++v) {
            re[v] = band.re[r.offset + v];
            im[v] = band.im[r.offset + v];
        }
        // Column N - reach - 1 + v, the high lanes starting at column N - 8 * kHighLaneGroups.
        for (int v = 1; v <= r.reach; ++v) {
            const int lane = 8 * kLowLaneGroups + 8 * kHighLaneGroups - r.reach - 1 + v;
            re[lane] = band.re[r.offset + r.reach + v];
            im[lane] = band.im[r.offset + r.reach + v];
        }
    }
    out.bins = band.bins;
}

// The products V * conj(P) of both probes, as c_a + i c_b, go straight into
// the first radix-4 stages of the inverse transform, which combine the rows
// at fft_input_row positions 4m .. 4m + 3 (the stage of length 4) or 16b ..
// 16b + 15 (those of length 4 and 16) among themselves: the products are
// never stored nor cleared around the band. Both stages at once only with
// the registers to hold them (wide_registers). A row outside the band is
// zero. Outside the band within a band row, a LaneSpectrum holds +0, so the
// products there are +0 too, as the transform's input always held.
FPALG_SIMD_CLONES void correlate_pair(const LaneSpectrum &v, const LaneSpectrum &pa, const LaneSpectrum &pb,
                                      Spectrum &out, Peak &a, Peak &b) {
    Spectrum &w = scratch().products;
    constexpr int kSlots = kBandLanes / 8;
    // The rows' LaneSpectrum rows from fft_input_row position `base`, or -1 outside the band.
    const auto band_rows = [](int base, int n, int *at) {
        for (int q = 0; q < n; ++q) {
            const int u = fft_input_row(base + q);
            at[q] = row_in_band(u) ? (signed_bin(u) + params::kPocBandHigh) * kBandLanes : -1;
        }
    };
    // c_a + i c_b, where c = V * conj(P), on eight lanes at LaneSpectrum index i
    const auto product = [&](int i, FftLanes &re, FftLanes &im) {
        FftLanes vr, vi, ar_, ai_, br_, bi_;
        std::memcpy(&vr, &v.re[i], sizeof vr);
        std::memcpy(&vi, &v.im[i], sizeof vi);
        std::memcpy(&ar_, &pa.re[i], sizeof ar_);
        std::memcpy(&ai_, &pa.im[i], sizeof ai_);
        std::memcpy(&br_, &pb.re[i], sizeof br_);
        std::memcpy(&bi_, &pb.im[i], sizeof bi_);
        const FftLanes ar = vr * ar_ + vi * ai_, ai = vi * ar_ - vr * ai_;
        const FftLanes br = vr * br_ + vi * bi_, bi = vi * br_ - vr * bi_;
        re = ar - bi;
        im = ai + br;
    };
    const auto store = [&](int row, int col, const FftLanes &re, const FftLanes &im) {
        std::memcpy(&w.re[row * N + col], &re, sizeof re);
        std::memcpy(&w.im[row * N + col], &im, sizeof im);
    };
    if (wide_registers()) {
        const Stage16 &twiddles = stage16_twiddles(true);
        for (int base = 0; base < N; base += 16) {
            int at[16];
            band_rows(base, 16, at);
            for (int slot = 0; slot < kSlots; ++slot) {
                const int lane = slot * 8, col = slot < kLowLaneGroups ? lane : N - kBandLanes + lane;
                FftLanes re[16], im[16];
#pragma GCC unroll 16
                for (int q = 0; q < 16; ++q) {
                    if (at[q] < 0)
                        re[q] = im[q] = FftLanes{};
                    else
                        product(at[q] + lane, re[q], im[q]);
                }
                first_two_stages<true>(re, im, twiddles);
#pragma GCC unroll 16
                for (int q = 0; q < 16; ++q) store(base + q, col, re[q], im[q]);
            }
        }
        fft2d_from_stage(w, out, true, 64, kBandGroups);
    } else {
        for (int base = 0; base < N; base += 4) {
            int at[4];
            band_rows(base, 4, at);
            for (int slot = 0; slot < kSlots; ++slot) {
                const int lane = slot * 8, col = slot < kLowLaneGroups ? lane : N - kBandLanes + lane;
                FftLanes re[4], im[4];
#pragma GCC unroll 4
                for (int q = 0; q < 4; ++q) {
                    if (at[q] < 0)
                        re[q] = im[q] = FftLanes{};
                    else
                        product(at[q] + lane, re[q], im[q]);
                }
                unit_butterfly<true>(re[0], im[0], re[1], im[1], re[2], im[2], re[3], im[3]);
#pragma GCC unroll 4
                for (int q = 0; q < 4; ++q) store(base + q, col, re[q], im[q]);
            }
        }
        fft2d_from_stage(w, out, true, 16, kBandGroups);
    }
    const float norm = static_cast<float>(v.bins > 0 ? v.bins : 1);
    a = find_peak(out.re.data(), norm);
    b = find_peak(out.im.data(), norm);
}

ProbeCache &prepare_probe(ProbeCache &c, const View &probe) {
    if (c.valid && same_view(c.source, probe)) return c;
    c.source = probe;
    decode_ridges(probe, c.upright);
    std::fill(std::begin(c.ready), std::end(c.ready), false);
    c.valid = true;
    return c;
}

void ensure_angle(ProbeCache &c, int k) {
    if (c.ready[k]) return;
    rotate_ridges(c.upright, angle_of(k), c.rotated[k]);
    phase_spectrum(c.rotated[k], c.work);
    keep_band(c.work, c.band);
    spread_band(c.band, c.spectrum[k]);
    c.ready[k] = true;
}

std::vector<Candidate> coarse_candidates(const Template &stored, const StoredRidges &views, ProbeCache &probe,
                                         CoarseWork &w) {
    std::vector<Candidate> cands;
    for (int v = 0; v < stored.view_count; ++v) {
        // The ridges are decoded only when the spectrum is not kept.
        std::string key = spectrum_key(stored.views[v]);
        if (!find_spectrum(key, w.band)) {
            phase_spectrum(views[v], w.view);
            keep_band(w.view, w.band);
            keep_spectrum(std::move(key), w.band);
        }
        spread_band(w.band, w.lanes);
        search_view(w, w.lanes, probe, v, cands);
    }
    const auto by_peak = [](const Candidate &a, const Candidate &b) {
        if (a.peak.height != b.peak.height) return a.peak.height > b.peak.height;
        return a.view != b.view ? a.view < b.view : a.angle < b.angle;
    };
    const std::size_t keep = std::min<std::size_t>(params::kCandidates, cands.size());
    std::partial_sort(cands.begin(), cands.begin() + static_cast<long>(keep), cands.end(), by_peak);
    cands.resize(keep);
    return cands;
}

void screen_candidates(const StoredRidges &views, const ProbeCache &probe, std::vector<Candidate> &cands) {
    std::vector<std::pair<float, std::size_t>> rank;
    for (std::size_t i = 0; i < cands.size(); ++i) {
        const Candidate &c = cands[i];
        int n = 0;
        const float r = overlap_ncc(views[c.view], probe.rotated[c.angle], c.peak.dy, c.peak.dx, n);
        rank.push_back(
            {-std::max(0.0f, r) * std::sqrt(static_cast<float>(n)) * (1.0f + params::kPeakWeight * c.peak.height), i});
    }
    std::sort(rank.begin(), rank.end());
    std::vector<Candidate> kept;
    for (std::size_t i = 0; i < rank.size() && kept.size() < static_cast<std::size_t>(params::kVerified); ++i)
        kept.push_back(cands[rank[i].second]);
    cands = kept;
}

}  // namespace fpalg

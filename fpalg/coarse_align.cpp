#include "coarse_align.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

bool in_band(int u, int v) {
    const int fu = signed_bin(u), fv = signed_bin(v);
    const int r2 = fu * fu + fv * fv;
    return r2 >= params::kPocBandLow * params::kPocBandLow && r2 <= params::kPocBandHigh * params::kPocBandHigh;
}

// Largest of n >= 8 values, eight at a time; the last eight overlap the
// ones before, which max does not mind (nor the order: max is exact).
using Oct = float __attribute__((vector_size(8 * sizeof(float))));

[[gnu::always_inline]] inline float row_max(const float *v, int n) {
    Oct m;
    std::memcpy(&m, v + n - 8, sizeof m);
    for (int x = 0; x + 8 < n; x += 8) {
        Oct c;
        std::memcpy(&c, v + x, sizeof c);
        m = c > m ? c : m;
    }
    float r = m[0];
    for (int l = 1; l < 8; ++l) r = std::max(r, m[l]);
    return r;
}

FPALG_SIMD_CLONES Peak find_peak(const float *surface, float norm) {
    Peak best{-1.0f, 0, 0};
    constexpr int kReach = H - params::kMinOverlapHalfPx;
    for (int dy = -kReach; dy <= kReach; ++dy) {
        // Negative shifts wrap to the end of the row. A row is only scanned
        // for the position when it beats the best so far; the first
        // position in dx order wins among equal values.
        const float *row = surface + ((dy + N) % N) * N;
        if (std::max(row_max(row + N - kReach, kReach), row_max(row, kReach + 1)) <= best.height) continue;
        for (int dx = -kReach; dx < 0; ++dx)
            if (row[N + dx] > best.height) best = {row[N + dx], dy, dx};
        for (int dx = 0; dx <= kReach; ++dx)
            if (row[dx] > best.height) best = {row[dx], dy, dx};
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
void search_view(CoarseWork &w, const BandSpectrum &view, ProbeCache &probe, int v, std::vector<Candidate> &cands) {
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
    out.re.fill(0.0f);
    out.im.fill(0.0f);
    constexpr int S = params::kSide;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < H; ++x) {
            const int i = 2 * y * S + 2 * x;
            const float v = r.value[i] + r.value[i + 1] + r.value[i + S] + r.value[i + S + 1];
            out.re[(y + kPad) * N + x + kPad] = 0.25f * v;
        }
    fft2d(out, false, kImageGroups);
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

FPALG_SIMD_CLONES void correlate_pair(const BandSpectrum &v, const BandSpectrum &pa, const BandSpectrum &pb,
                                      Spectrum &w, Peak &a, Peak &b) {
    // Outside the band every product is zero.
    for (int u = params::kPocBandHigh + 1; u < N - params::kPocBandHigh; ++u) {
        std::fill_n(&w.re[u * N], N, 0.0f);
        std::fill_n(&w.im[u * N], N, 0.0f);
    }
    for (const BandRow &r : kBand.rows) {
        const int u = r.row;
        float *wr = &w.re[u * N], *wi = &w.im[u * N];
        std::fill_n(wr + r.reach + 1, N - 2 * r.reach - 1, 0.0f);
        std::fill_n(wi + r.reach + 1, N - 2 * r.reach - 1, 0.0f);
        // Columns 0 .. reach, then N - reach .. N - 1 (band position reach + 1 ..).
        const int runs[2][3] = {{0, 0, r.reach + 1}, {N - r.reach, r.reach + 1, r.reach}};
        for (const auto &run : runs) {
            const int x0 = run[0], at = r.offset + run[1], n = run[2];
            const float *vr = &v.re[at], *vi = &v.im[at];
            const float *ar_ = &pa.re[at], *ai_ = &pa.im[at], *br_ = &pb.re[at], *bi_ = &pb.im[at];
            float *or_ = wr + x0, *oi = wi + x0;
            FPALG_DISJOINT
            for (int k = 0; k < n; ++k) {
                // c_a + i c_b, where c = V * conj(P)
                const float ar = vr[k] * ar_[k] + vi[k] * ai_[k], ai = vi[k] * ar_[k] - vr[k] * ai_[k];
                const float br = vr[k] * br_[k] + vi[k] * bi_[k], bi = vi[k] * br_[k] - vr[k] * bi_[k];
                or_[k] = ar - bi;
                oi[k] = ai + br;
            }
        }
    }
    fft2d(w, true, kBandGroups);
    const float norm = static_cast<float>(v.bins > 0 ? v.bins : 1);
    a = find_peak(w.re.data(), norm);
    b = find_peak(w.im.data(), norm);
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
    keep_band(c.work, c.spectrum[k]);
    c.ready[k] = true;
}

std::vector<Candidate> coarse_candidates(const Template &stored, const StoredRidges &views, ProbeCache &probe,
                                         CoarseWork &w) {
    std::vector<Candidate> cands;
    for (int v = 0; v < stored.view_count; ++v) {
        // The ridges are decoded only when the spectrum is not kept.
        std::string key = spectrum_key(stored.views[v]);
        std::shared_ptr<const BandSpectrum> spectrum = find_spectrum(key);
        if (!spectrum) {
            phase_spectrum(views[v], w.view);
            auto band = std::make_shared<BandSpectrum>();
            keep_band(w.view, *band);
            keep_spectrum(std::move(key), band);
            spectrum = std::move(band);
        }
        search_view(w, *spectrum, probe, v, cands);
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

#include "coarse_align.h"

#include <cmath>

namespace fpalg {
namespace {
constexpr int N = params::kFftSide;
constexpr int H = params::kHalf;
constexpr int kPad = (N - H) / 2;

int signed_bin(int u) { return u < N / 2 ? u : u - N; }

bool in_band(int u, int v) {
    const int fu = signed_bin(u), fv = signed_bin(v);
    const int r2 = fu * fu + fv * fv;
    return r2 >= params::kPocBandLow * params::kPocBandLow && r2 <= params::kPocBandHigh * params::kPocBandHigh;
}

Peak find_peak(const float *surface, float norm) {
    Peak best{-1.0f, 0, 0};
    constexpr int kReach = H - params::kMinOverlapHalfPx;
    for (int dy = -kReach; dy <= kReach; ++dy)
        for (int dx = -kReach; dx <= kReach; ++dx) {
            const float v = surface[((dy + N) % N) * N + (dx + N) % N];
            if (v > best.height) best = {v, dy, dx};
        }
    best.height /= norm;
    best.dy *= 2;
    best.dx *= 2;
    return best;
}

}  // namespace

void phase_spectrum(const RidgeView &r, Spectrum &out) {
    out.re.fill(0.0f);
    out.im.fill(0.0f);
    constexpr int S = params::kSide;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < H; ++x) {
            const int i = 2 * y * S + 2 * x;
            const float v = r.value[i] + r.value[i + 1] + r.value[i + S] + r.value[i + S + 1];
            out.re[(y + kPad) * N + x + kPad] = 0.25f * v;
        }
    fft2d(out, false);
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

void correlate_pair(const Spectrum &v, const Spectrum &pa, const Spectrum &pb, Spectrum &w, Peak &a, Peak &b) {
    for (int i = 0; i < kFftPixels; ++i) {
        // c_a + i c_b, where c = V * conj(P)
        const float ar = v.re[i] * pa.re[i] + v.im[i] * pa.im[i], ai = v.im[i] * pa.re[i] - v.re[i] * pa.im[i];
        const float br = v.re[i] * pb.re[i] + v.im[i] * pb.im[i], bi = v.im[i] * pb.re[i] - v.re[i] * pb.im[i];
        w.re[i] = ar - bi;
        w.im[i] = ai + br;
    }
    fft2d(w, true);
    const float norm = static_cast<float>(v.bins > 0 ? v.bins : 1);
    a = find_peak(w.re.data(), norm);
    b = find_peak(w.im.data(), norm);
}

}  // namespace fpalg

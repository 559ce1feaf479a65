#include "fft.h"

#include <cmath>
#include <utility>

#include "fixed_trig.h"
#include "simd_clones.h"

namespace fpalg {
namespace {

constexpr int N = params::kFftSide;
constexpr int kLog2N = 6;
static_assert(1 << kLog2N == N);

struct Tables {
    int reverse[N];
    float cos_[N / 2], sin_[N / 2];
    Tables() {
        for (int i = 0; i < N; ++i) {
            int r = 0;
            for (int b = 0; b < kLog2N; ++b) r |= ((i >> b) & 1) << (kLog2N - 1 - b);
            reverse[i] = r;
        }
        for (int k = 0; k < N / 2; ++k) {
            const double a = -2.0 * 3.14159265358979323846 * k / N;
            cos_[k] = static_cast<float>(fixed_cos(a));
            sin_[k] = static_cast<float>(fixed_sin(a));
        }
    }
};

const Tables &tables() {
    static const Tables t;
    return t;
}

// Radix-2 transform of `count` interleaved sequences at once: element i of
// sequence j sits at index i * N + j, so the inner loop runs over j and
// vectorises. Used on columns directly and on rows after a transpose.
FPALG_SIMD_CLONES void fft_columns(float *re, float *im, bool inverse) {
    const Tables &t = tables();
    for (int i = 0; i < N; ++i) {
        const int r = t.reverse[i];
        if (r > i)
            for (int j = 0; j < N; ++j) {
                std::swap(re[i * N + j], re[r * N + j]);
                std::swap(im[i * N + j], im[r * N + j]);
            }
    }
    for (int len = 2; len <= N; len <<= 1) {
        const int half = len / 2, step = N / len;
        for (int start = 0; start < N; start += len)
            for (int k = 0; k < half; ++k) {
                const float wr = t.cos_[k * step], wi = inverse ? -t.sin_[k * step] : t.sin_[k * step];
                float *ar = re + (start + k) * N, *ai = im + (start + k) * N;
                float *br = re + (start + k + half) * N, *bi = im + (start + k + half) * N;
                for (int j = 0; j < N; ++j) {
                    const float xr = br[j] * wr - bi[j] * wi;
                    const float xi = br[j] * wi + bi[j] * wr;
                    br[j] = ar[j] - xr;
                    bi[j] = ai[j] - xi;
                    ar[j] += xr;
                    ai[j] += xi;
                }
            }
    }
}

void transpose(float *a) {
    for (int y = 0; y < N; ++y)
        for (int x = y + 1; x < N; ++x) std::swap(a[y * N + x], a[x * N + y]);
}

}  // namespace

void fft2d(Spectrum &s, bool inverse) {
    fft_columns(s.re.data(), s.im.data(), inverse);
    transpose(s.re.data());
    transpose(s.im.data());
    fft_columns(s.re.data(), s.im.data(), inverse);
}

}  // namespace fpalg

#include "ridge_growth.h"

#include <algorithm>
#include <cmath>

#include "detmath.h"

namespace fpgen {

namespace {

constexpr int kRadius = 7;
constexpr int kRows = 2 * kRadius + 1; // 15
constexpr int kCols = 16;              // 15 taps and a zero, for the vector unit
constexpr int kIterations = 20;
constexpr double kSigma = 3.6;

struct Kernel {
    int16_t tap[kRows][kCols];
};

// Kernel for ridges running along `theta` with the given period: a Gaussian
// envelope times a cosine across the ridges, made zero-mean so flat areas
// give nothing, scaled so a matching ridge wave of amplitude A comes back
// with amplitude gain * A.
Kernel make_kernel(double theta, double period, double gain)
{
    const double nx = -det_sin(theta); // unit normal to the ridges
    const double ny = det_cos(theta);
    double env[kRows][kRows];
    double wave[kRows][kRows];
    double env_sum = 0.0;
    double env_wave = 0.0;
    for (int dy = -kRadius; dy <= kRadius; ++dy)
        for (int dx = -kRadius; dx <= kRadius; ++dx) {
            const double e = det_exp(-static_cast<double>(dx * dx + dy * dy) / (2.0 * kSigma * kSigma));
            const double c = det_cos(2.0 * kPi * (dx * nx + dy * ny) / period);
            env[dy + kRadius][dx + kRadius] = e;
            wave[dy + kRadius][dx + kRadius] = c;
            env_sum += e;
            env_wave += e * c;
        }
    const double dc = env_wave / env_sum;
    double response = 0.0;
    double real[kRows][kRows];
    for (int i = 0; i < kRows; ++i)
        for (int j = 0; j < kRows; ++j) {
            real[i][j] = env[i][j] * (wave[i][j] - dc);
            response += real[i][j] * wave[i][j];
        }
    Kernel k{};
    const double scale = gain * kRidgeOne / response;
    for (int i = 0; i < kRows; ++i)
        for (int j = 0; j < kRows; ++j)
            k.tap[i][j] = static_cast<int16_t>(std::lround(real[i][j] * scale));
    return k;
}

struct KernelBank {
    std::vector<Kernel> kernels; // [orientation][period]
    explicit KernelBank(double gain) : kernels(kOrientBins * kPeriodBins)
    {
        for (int o = 0; o < kOrientBins; ++o)
            for (int p = 0; p < kPeriodBins; ++p)
                kernels[o * kPeriodBins + p] = make_kernel(o * kPi / kOrientBins, kPeriodMin + 0.5 * p, gain);
    }
};

const KernelBank &growth_bank()
{
    static const KernelBank bank(1.8);
    return bank;
}

const KernelBank &smoothing_bank()
{
    static const KernelBank bank(1.0);
    return bank;
}

// One pass. src is padded by kRadius on every side (kCols - 1 - kRadius on
// the right) and zero there; dst is written at the same padded positions.
void filter_pass(const std::vector<int16_t> &src, std::vector<int16_t> &dst, int w, int h, int pw,
                 const std::vector<uint8_t> &orient, const std::vector<uint8_t> &period, const KernelBank &bank,
                 bool clip)
{
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            const Kernel &k = bank.kernels[orient[i] * kPeriodBins + period[i]];
            int32_t sum = 0;
            for (int r = 0; r < kRows; ++r) {
                const int16_t *s = &src[static_cast<size_t>(y + r) * pw + x];
                const int16_t *t = k.tap[r];
                int32_t row = 0;
                for (int c = 0; c < kCols; ++c)
                    row += static_cast<int32_t>(s[c]) * t[c];
                sum += row;
            }
            int32_t v = sum >> 10;
            if (clip)
                v = std::clamp<int32_t>(v, -kRidgeOne, kRidgeOne);
            dst[static_cast<size_t>(y + kRadius) * pw + x + kRadius] = static_cast<int16_t>(v);
        }
    }
}

} // namespace

int orientation_bin(double theta)
{
    const int b = static_cast<int>(std::floor(theta / kPi * kOrientBins + 0.5));
    return ((b % kOrientBins) + kOrientBins) % kOrientBins;
}

int period_bin(double period)
{
    const int b = static_cast<int>(std::floor((period - kPeriodMin) / 0.5 + 0.5));
    return std::clamp(b, 0, kPeriodBins - 1);
}

std::vector<int16_t> grow_ridges(int w, int h, const std::vector<uint8_t> &orient, const std::vector<uint8_t> &period,
                                 Rng &rng, uint32_t seed_density)
{
    const int pw = w + kCols; // kRadius left, kCols - kRadius right
    const int ph = h + 2 * kRadius;
    std::vector<int16_t> a(static_cast<size_t>(pw) * ph, 0);
    std::vector<int16_t> b(a.size(), 0);

    // Sparse seeds: isolated crests of random sign. Their density sets how
    // many independent ridge flows meet, and so how many minutiae form.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (rng.below(1000) < seed_density)
                a[static_cast<size_t>(y + kRadius) * pw + x + kRadius] = rng.below(2) ? kRidgeOne : -kRidgeOne;

    for (int it = 0; it < kIterations; ++it) {
        filter_pass(a, b, w, h, pw, orient, period, growth_bank(), true);
        a.swap(b);
    }
    // A last gentle pass rounds the clipped square wave into smooth ridges.
    filter_pass(a, b, w, h, pw, orient, period, smoothing_bank(), true);

    std::vector<int16_t> out(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        std::copy_n(&b[static_cast<size_t>(y + kRadius) * pw + kRadius], w, &out[static_cast<size_t>(y) * w]);
    return out;
}

} // namespace fpgen

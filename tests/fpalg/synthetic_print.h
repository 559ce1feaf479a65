// Procedural fingerprint-like ridge patterns for the tests: curved ridges
// with a few phase singularities (ridge endings and forks) and slow warps
// of spacing and direction, so that every part of the pattern is distinct. No real fingerprint data is used.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace fpalg_test {

class SyntheticPrint {
public:
    explicit SyntheticPrint(unsigned seed = 1) {
        unsigned s = seed * 2654435761u + 12345u;
        auto next = [&s]() {
            s = s * 1664525u + 1013904223u;
            return (s >> 8) / 16777216.0;
        };
        for (auto &m : minutiae_) m = {40 + 180 * next(), 40 + 180 * next(), next() < 0.5 ? 1.0 : -1.0};
        cy_ = -30 - 60 * next();
        cx_ = 60 + 140 * next();
        period_ = 8.0 + 3.0 * next();
        // Slow warps of the ridge phase: ridge spacing and direction drift
        // across the print as they do on a finger.
        for (auto &w : warps_) w = {0.6 + next(), 2 * M_PI * next(), 2 * M_PI / (60 + 100 * next()), 2 * M_PI * next()};
    }

    // Grey value of the print at (y, x), 0..1023.
    double at(double y, double x) const {
        double phase = std::hypot(y - cy_, x - cx_) / period_;
        for (const auto &w : warps_)
            phase += w.amplitude * std::sin(w.k * (std::cos(w.direction) * y + std::sin(w.direction) * x) + w.offset);
        for (const auto &m : minutiae_) phase += m.sign * std::atan2(y - m.y, x - m.x) / (2 * M_PI);
        return 512.0 + 300.0 * std::cos(2 * M_PI * phase);
    }

    // A 96 x 96 capture centred at (cy, cx), rotated by `degrees`.
    std::vector<std::uint16_t> capture(double cy, double cx, double degrees = 0.0) const {
        std::vector<std::uint16_t> img(96 * 96);
        const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 96; ++x) {
                const double dy = y - 47.5, dx = x - 47.5;
                const double v = at(cy + c * dy + s * dx, cx - s * dy + c * dx);
                img[y * 96 + x] = static_cast<std::uint16_t>(std::lround(std::fmin(1023.0, std::fmax(0.0, v))));
            }
        return img;
    }

private:
    struct Singularity {
        double y, x, sign;
    };
    struct Warp {
        double amplitude, direction, k, offset;
    };
    Singularity minutiae_[12];
    Warp warps_[3];
    double cy_, cx_, period_;
};

}  // namespace fpalg_test

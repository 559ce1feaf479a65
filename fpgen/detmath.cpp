#include "detmath.h"

#include <cmath>

namespace fpgen {

namespace {

// Taylor series of sin on [-pi/4, pi/4]; the terms up to x^17 bring the error
// below 1e-16.
double sin_core(double x)
{
    const double x2 = x * x;
    double term = x;
    double sum = x;
    for (int n = 1; n <= 8; ++n) {
        term = -term * x2 / static_cast<double>((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

double cos_core(double x)
{
    const double x2 = x * x;
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n <= 8; ++n) {
        term = -term * x2 / static_cast<double>((2 * n - 1) * (2 * n));
        sum += term;
    }
    return sum;
}

// atan on [-tan(pi/8), tan(pi/8)] by its series; |t| <= 0.4143 makes the
// 27th-order truncation error about 1e-11.
double atan_core(double t)
{
    const double t2 = t * t;
    double power = t;
    double sum = t;
    for (int n = 1; n <= 13; ++n) {
        power = -power * t2;
        sum += power / static_cast<double>(2 * n + 1);
    }
    return sum;
}

constexpr double kTanPi8 = 0.41421356237309503;

} // namespace

double det_sin(double x)
{
    // Reduce to [-pi, pi], then to an octant.
    const double turns = std::floor(x / (2.0 * kPi) + 0.5);
    double r = x - turns * (2.0 * kPi);
    const double q = std::floor(r / (kPi / 2.0) + 0.5); // -2..2
    const double y = r - q * (kPi / 2.0);               // [-pi/4, pi/4]
    switch (static_cast<int>(q)) {
    case -2:
    case 2: return -sin_core(y);
    case -1: return -cos_core(y);
    case 1: return cos_core(y);
    default: return sin_core(y);
    }
}

double det_cos(double x) { return det_sin(x + kPi / 2.0); }

double det_atan2(double y, double x)
{
    if (x == 0.0 && y == 0.0)
        return 0.0;
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    const bool swap = ay > ax;
    const double t = swap ? ax / ay : ay / ax; // [0, 1]
    double a;
    if (t > kTanPi8)
        a = kPi / 4.0 + atan_core((t - 1.0) / (t + 1.0));
    else
        a = atan_core(t);
    if (swap)
        a = kPi / 2.0 - a;
    if (x < 0.0)
        a = kPi - a;
    return y < 0.0 ? -a : a;
}

double det_exp(double x)
{
    if (x < -700.0)
        return 0.0;
    if (x > 700.0)
        x = 700.0;
    constexpr double kLn2 = 0.69314718055994531;
    const double k = std::floor(x / kLn2 + 0.5);
    const double r = x - k * kLn2; // |r| <= ln2/2
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n <= 14; ++n) {
        term = term * r / static_cast<double>(n);
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(k));
}

double wrap_pi(double a)
{
    a -= std::floor(a / kPi) * kPi;
    if (a >= kPi || a < 0.0)
        a = 0.0;
    return a;
}

} // namespace fpgen

#include "fixed_trig.h"

#include <numbers>

namespace fpalg {
namespace {
constexpr double kPi = std::numbers::pi;

// Reduces to [-pi, pi] and sums the Taylor series to a fixed number of terms.
double series_sin(double x) {
    while (x > kPi) x -= 2 * kPi;
    while (x < -kPi) x += 2 * kPi;
    double term = x, sum = x;
    const double x2 = x * x;
    for (int n = 1; n <= 14; ++n) {
        term = -term * x2 / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}
}  // namespace

double fixed_sin(double x) { return series_sin(x); }
double fixed_cos(double x) { return series_sin(x + kPi / 2); }
double deci_degrees_to_radians(int deci) { return deci * kPi / 1800.0; }

}  // namespace fpalg

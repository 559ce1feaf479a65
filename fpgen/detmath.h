// Elementary functions computed with plain IEEE-754 arithmetic only.
//
// libm's sin/cos/atan2/exp may differ in the last bit between C libraries
// and versions; any such difference could flip a rounded pixel. These
// versions use only +, -, *, / and exact scaling, so (compiled with
// -ffp-contract=off) they give the same bits everywhere. Accuracy is around
// 1e-10, far beyond what the images need.
#pragma once

namespace fpgen {

constexpr double kPi = 3.14159265358979323846;

double det_sin(double x);
double det_cos(double x);
double det_atan2(double y, double x); // in (-pi, pi], 0 for (0, 0)
double det_exp(double x);             // for x in [-700, 700]

// Wraps an angle into [0, pi), the range of a ridge orientation.
double wrap_pi(double a);

} // namespace fpgen

// Sine and cosine from a fixed series, so that rotations come out bit for
// bit the same on every CPU and C library (the libm ones may differ in the
// last bit between platforms, and registration poses are stored).
#pragma once

namespace fpalg {

// x in radians, |x| <= 2 pi; accurate to about 1e-15.
double fixed_sin(double x);
double fixed_cos(double x);
// Angle in tenths of a degree.
double deci_degrees_to_radians(int deci);

}  // namespace fpalg

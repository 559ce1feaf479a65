#include "value_noise.h"

#include <algorithm>
#include <cmath>

namespace fpgen {

ValueNoise::ValueNoise(Rng &rng, double width, double height, double cell)
    : cell_(cell), gw_(static_cast<int>(std::ceil(width / cell)) + 2),
      gh_(static_cast<int>(std::ceil(height / cell)) + 2), grid_(static_cast<size_t>(gw_) * static_cast<size_t>(gh_))
{
    for (double &v : grid_)
        v = rng.uniform(-1.0, 1.0);
}

double ValueNoise::at(double x, double y) const
{
    double gx = std::clamp(x / cell_, 0.0, static_cast<double>(gw_ - 1));
    double gy = std::clamp(y / cell_, 0.0, static_cast<double>(gh_ - 1));
    int ix = std::min(static_cast<int>(gx), gw_ - 2);
    int iy = std::min(static_cast<int>(gy), gh_ - 2);
    double fx = gx - ix;
    double fy = gy - iy;
    fx = fx * fx * (3.0 - 2.0 * fx);
    fy = fy * fy * (3.0 - 2.0 * fy);
    const double *row0 = &grid_[static_cast<size_t>(iy) * gw_ + ix];
    const double *row1 = row0 + gw_;
    const double top = row0[0] + (row0[1] - row0[0]) * fx;
    const double bottom = row1[0] + (row1[1] - row1[0]) * fx;
    return top + (bottom - top) * fy;
}

} // namespace fpgen

// Smooth random fields: random values on a coarse grid, blended with a
// smoothstep between grid points. Used for the gentle variations of ridge
// period and orientation and for pressure, moisture and lighting.
#pragma once

#include <vector>

#include "rng.h"

namespace fpgen {

class ValueNoise {
public:
    // Covers [0, width] x [0, height] with cells of `cell` pixels; values are
    // uniform in [-1, 1] at the grid points. Outside, the border cells extend.
    ValueNoise(Rng &rng, double width, double height, double cell);

    double at(double x, double y) const;

private:
    double cell_;
    int gw_;
    int gh_;
    std::vector<double> grid_;
};

} // namespace fpgen

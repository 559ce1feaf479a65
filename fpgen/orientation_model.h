// Ridge orientation from singular points: the zero-pole model (each core
// turns the orientation by +pi around itself, each delta by -pi), with a
// per-point piecewise-linear correction of the angle so that loops and
// whorls are not all perfectly round, and a closed-form field for plain
// arches, which have no singular point.
#pragma once

#include <array>
#include <vector>

#include "fpgen.h"
#include "rng.h"

namespace fpgen {

struct SingularPoint {
    double x = 0.0; // image coordinates, y down
    double y = 0.0;
    std::array<double, 9> correction{}; // angle offsets at -pi, -3pi/4, ..., pi
};

struct OrientationModel {
    PatternClass cls = PatternClass::Arch;
    std::vector<SingularPoint> cores;
    std::vector<SingularPoint> deltas;
    double theta0 = 0.0;  // far-field orientation
    double arch_cx = 0.0; // plain arch: centre, bump height and width
    double arch_cy = 0.0;
    double arch_height = 0.0;
    double arch_width = 1.0;
    // Each finger's pattern is stretched and turned a little about the
    // fingertip centre, so equal classes still differ in shape:
    // model point = centre + warp * (image point - centre).
    double centre_x = 0.0;
    double centre_y = 0.0;
    double warp[4] = {1.0, 0.0, 0.0, 1.0};   // row-major 2x2
    double unwarp[4] = {1.0, 0.0, 0.0, 1.0}; // its inverse

    // Ridge direction at (x, y) as an angle in [0, pi), image coordinates.
    double at(double x, double y) const;

private:
    double model_at(double x, double y) const;
};

// `realistic`: the published shares of the five classes (arch 4 %, tented
// arch 3 %, left loop 34 %, right loop 32 %, whorl 28 %); else the first
// model's rougher ones.
PatternClass draw_pattern_class(Rng &rng, bool realistic = false);
// Places the singular points of `cls` around the fingertip centre (cx, cy).
// `realistic` spreads them wider and bends the flow around them more, as
// real fingers differ from one another.
OrientationModel make_orientation_model(Rng &rng, PatternClass cls, double cx, double cy, bool realistic = false);

} // namespace fpgen

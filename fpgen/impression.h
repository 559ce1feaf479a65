// Internal: where an impression's pixels come from on the master, and the
// impression as floating-point intensities in [0, 1] (before clamping),
// shared by the 8-bit and the 12-bit outputs.
#pragma once

#include <cstdint>
#include <vector>

#include "master.h"
#include "rng.h"

namespace fpgen {

struct Rotation {
    double c = 1.0;
    double s = 0.0;
    Rotation() = default;
    explicit Rotation(double angle);
    void apply(double &x, double &y) const;
};

// Window-to-master mapping of one impression: a rigid placement after a
// plastic distortion around the contact core.
struct Placement {
    double half_w = 0.0, half_h = 0.0; // window centre
    Rotation place;                    // finger rotation on the glass
    double ox = 0.0, oy = 0.0;         // master point under the window centre
    double core_x = 0.0, core_y = 0.0; // contact core, window coordinates
    double core_r = 0.0, band = 1.0;   // undistorted radius, transition width
    Rotation twist;                    // twist and drag beyond the band
    double drag_x = 0.0, drag_y = 0.0;

    // Master position seen by window pixel (u, v).
    void to_master(int u, int v, double &mx, double &my) const;
};

// How carelessly a style's captures are made: 0 for easy (the first model's
// ranges), 1 for normal, more for hard.
double carelessness(Style style);

Placement draw_placement(Rng &rng, const Master &m, int w, int h, Style style = kDefaultStyle);
Placement impression_placement(uint32_t seed, int finger, int impression, int w, int h, Style style = kDefaultStyle);

void check_size(int w, int h);
std::vector<double> render_intensity(uint32_t seed, int finger, int impression, int w, int h,
                                     Style style = kDefaultStyle);

} // namespace fpgen

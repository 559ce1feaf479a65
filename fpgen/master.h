// A finger's master print: the full ridge pattern over a canvas, the
// fingertip outline, and the singular points it was grown around.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fpgen.h"
#include "orientation_model.h"

namespace fpgen {

// Canvas of the cached masters impressions are cut from: a fingertip of
// about 17 x 22 mm at 500 dpi, with a margin.
constexpr int kMasterWidth = 336;
constexpr int kMasterHeight = 432;

struct Master {
    int width = 0;
    int height = 0;
    std::vector<int16_t> ridge; // Q10, positive on ridges
    OrientationModel model;
    double cx = 0.0; // fingertip centre
    double cy = 0.0;
    double half_width = 0.0; // outline: half-ellipse on top, longer one below
    double half_top = 0.0;
    double half_bottom = 0.0;

    // Ridge sample at a fractional position (bilinear); 0 off the canvas.
    double ridge_at(double x, double y) const;
    // 1 well inside the fingertip, 0 outside, with a soft edge.
    double inside(double x, double y) const;
};

void check_finger(int finger);
// The easy style has masters of its own; normal and hard share theirs.
Master make_master(uint32_t seed, int finger, int w, int h, Style style = kDefaultStyle);
// The kMasterWidth x kMasterHeight master, built once and kept while some
// other fingers are in use.
std::shared_ptr<const Master> cached_master(uint32_t seed, int finger, Style style = kDefaultStyle);

} // namespace fpgen

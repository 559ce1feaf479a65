// Poses of views in the template's common frame. A probe aligned on one
// view can then be compared with every registered view at once, as if the
// enrolled area were one mosaic.
#pragma once

#include "score_parts.h"
#include "template_format.h"

namespace fpalg {

// Rigid map of view pixels into the common frame: rotation about the image
// centre, then translation.
struct Pose {
    double angle = 0.0;  // radians
    double ty = 0.0, tx = 0.0;
    double cos_a = 1.0, sin_a = 0.0;

    static Pose make(double angle, double ty, double tx);
    void apply(double y, double x, double &gy, double &gx) const;
    void invert(double gy, double gx, double &y, double &x) const;
};

Pose pose_of(const View &v);
void set_pose(View &v, int frame, const Pose &p);
// The view defines frame `index` (its own index in the template).
void set_own_frame(View &v, int index);

// Pose of a capture aligned on `base` with the terms in `parts` (the capture
// was the probe: its pixel p, rotated by parts.angle_deci, lies on base
// pixel p + (dy, dx)).
Pose pose_from_alignment(const Pose &base, const ScoreParts &parts);

// Places view `index` in the frame it aligns on most convincingly, and
// joins every other frame it also aligns on to that one, so that the views
// grow into one mosaic even when they arrive in an order where early ones
// do not overlap. A view that aligns on nothing starts a frame of its own.
void register_view(Template &t, int index);

}  // namespace fpalg

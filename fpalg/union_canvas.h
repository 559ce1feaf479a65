// The enrolled area as one picture under the probe: for every pixel of the
// rotated probe, the ridges of the first view of the same frame that covers it
// (the view the probe was aligned on comes first). Lets a probe that
// straddles several captures be verified over its whole overlap.
#pragma once

#include "coarse_align.h"
#include "template_format.h"
#include "view_image.h"

namespace fpalg {

// views: decoded ridges of stored.views; `on` is the view the probe was
// aligned on with shift `shift`. Returns the number of pixels covered by a
// view other than `on`.
int union_canvas(const Template &stored, const StoredRidges &views, int on, const Peak &shift, RidgeView &canvas);

}  // namespace fpalg

// Verification of one coarse alignment at full resolution: refines the
// shift, then correlates 16 x 16 blocks, each free to move a little, so
// that skin distortion does not break the agreement of ridge detail.
#pragma once

#include "coarse_align.h"
#include "score_parts.h"

namespace fpalg {

// Correlation of the whole overlap when probe pixel p lies on view pixel
// p + (dy, dx); `pixels` receives the overlap size.
float overlap_ncc(const RidgeView &view, const RidgeView &probe, int dy, int dx, int &pixels);

// The same over view rows [y0, y1) and columns [x0, x1) only.
float region_ncc(const RidgeView &view, const RidgeView &probe, int dy, int dx, int y0, int y1, int x0, int x1,
                 int &pixels);

// Fills the overlap and correlation terms of `parts` (view, angle and
// peak are the caller's).
void verify_alignment(const RidgeView &view, const RidgeView &probe, const Peak &start, ScoreParts &parts);

// Verification of a coarse candidate on its own view, and, when the view is
// registered with others, on the union of its frame's views under the probe
// (built in `canvas`); the better of the two. views: decoded ridges of
// stored.views.
ScoreParts verify_candidate(const Template &stored, const StoredRidges &views, const ProbeCache &probe,
                            const Candidate &c, RidgeView &canvas);

}  // namespace fpalg

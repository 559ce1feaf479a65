// Verification of one coarse alignment at full resolution: refines the
// shift, then correlates 16 x 16 blocks, each free to move a little, so
// that skin distortion does not break the agreement of ridge detail.
#pragma once

#include "coarse_align.h"
#include "score_parts.h"

namespace fpalg {

// Fills the overlap and correlation terms of `parts` (view, angle and
// peak are the caller's).
void verify_alignment(const RidgeView &view, const RidgeView &probe, const Peak &start, ScoreParts &parts);

}  // namespace fpalg

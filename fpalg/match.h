// Comparison of a probe with a stored template: coarse alignment of the
// probe at every rotation over every stored view, verification of the best
// alignments, calibrated score.
#pragma once

#include <vector>

#include "coarse_align.h"
#include "score_parts.h"
#include "template_format.h"

namespace fpalg {

// Best explanation of the probe's first view over the stored views.
// The probe's rotated images are cached between calls with the same probe.
// Without `details` the best verified alignment is not followed through the
// skin's stretch nor checked for minutiae: its pose, overlap and correlation
// are final, its evidence and score are not.
ScoreParts match_templates(const Template &stored, const Template &probe, bool details = true);

// The same comparison with the coarse search replaced by `cands`: lets the
// bench tools score a pose known from elsewhere as the matcher would.
ScoreParts match_at(const Template &stored, const Template &probe, const std::vector<Candidate> &cands);

}  // namespace fpalg

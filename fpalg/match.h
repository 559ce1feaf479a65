// Comparison of a probe with a stored template: coarse alignment of the
// probe at every rotation over every stored view, verification of the best
// alignments, calibrated score.
#pragma once

#include "score_parts.h"
#include "template_format.h"

namespace fpalg {

// Best explanation of the probe's first view over the stored views.
// The probe's rotated images are cached between calls with the same probe.
ScoreParts match_templates(const Template &stored, const Template &probe);

}  // namespace fpalg

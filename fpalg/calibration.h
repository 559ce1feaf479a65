// Maps the matcher's raw evidence onto the 0..100 score scale on which a
// score above 45 is a match. The knots were fitted to impostor score
// distributions so that 46 is reached by at most 1 in 100,000 impostors.
#pragma once

#include "score_parts.h"

namespace fpalg {

// Combined evidence of the partial terms (larger is more alike).
float raw_evidence(const ScoreParts &parts);
// Share of the evidence that ridge detail confirms: 1 when enough minutiae
// pair up after alignment, down to 1/2 when none do (or none were looked at).
float detail_factor(const ScoreParts &parts);
// Calibrated score 0..100; 0 when nothing is shared.
int calibrated_score(float raw);

}  // namespace fpalg

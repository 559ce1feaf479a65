// Template renewal after a confident match. The probe is folded in only far
// above the match threshold, into a renewal slot; enrollment views are
// never replaced, so an impostor cannot creep in over time.
#pragma once

#include "score_parts.h"
#include "template_format.h"

namespace fpalg {

enum class RenewResult { renewed = 0, no_match = 1, too_weak = 2 };

// Remembers the pair of a match for a later renewal (forgets on a non-match).
void remember_match(const Template *stored, const Template *probe, const ScoreParts &parts);
RenewResult renew_last_match(Template &out);

}  // namespace fpalg

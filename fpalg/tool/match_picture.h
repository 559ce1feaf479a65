// What the matcher saw, as a picture: the probe's ridges, the stored views,
// and for a match the probe aligned over the enrolled views with the
// agreement of each block.
#pragma once

#include <string>

#include "score_parts.h"
#include "template_format.h"

namespace fpalg_tool {

// All views of a template, side by side.
bool draw_template(const fpalg::Template &t, const std::string &png);
// The probe over the stored template as `parts` explains it.
bool draw_match(const fpalg::Template &stored, const fpalg::Template &probe, const fpalg::ScoreParts &parts,
                const std::string &png);

}  // namespace fpalg_tool

// What the matcher saw, as one picture a person can read without the
// source: a title with the decision, then the probe as captured, its ridges,
// the enrolled mosaic with the probe placed on it, and the overlap coloured
// by agreement, with a legend.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "score_parts.h"
#include "template_format.h"

namespace fpalg_tool {

// All views of a template, side by side.
bool draw_template(const fpalg::Template &t, const std::string &png);
// The probe over the stored template as `parts` explains it. `capture` is the
// probe's image (96 x 96, 10-bit), empty when the probe came as a template;
// a score above `threshold` is a match.
bool draw_match(const fpalg::Template &stored, const fpalg::Template &probe, const fpalg::ScoreParts &parts,
                const std::vector<std::uint16_t> &capture, int threshold, const std::string &png);

}  // namespace fpalg_tool

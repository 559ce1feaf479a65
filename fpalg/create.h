// Extraction: one capture becomes a one-view template.
#pragma once

#include <cstdint>

#include "template_format.h"

namespace fpalg {

enum class CreateResult { made, blank };

// image: 96 x 96 10-bit samples. Fills `t` with one view.
CreateResult create_template(const std::uint16_t *image, Template &t, int &foreground_blocks);

}  // namespace fpalg

// How generic a capture is: a patch of parallel ridges correlates well with
// itself shifted along the ridges, and with many other fingers. The score
// discounts evidence from such captures.
#pragma once

#include <cstdint>

#include "template_format.h"

namespace fpalg {

// Best correlation of the view with itself over shifts of kAmbiguityMinShift
// to kAmbiguityMaxShift px, scaled to 0..255.
std::uint8_t self_similarity(const View &view);

}  // namespace fpalg

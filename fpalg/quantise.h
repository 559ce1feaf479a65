// Turns band-passed ridges into the stored view: two-bit ridge levels
// normalised by local energy, and the foreground block mask.
#pragma once

#include "ridge_filter.h"
#include "template_format.h"

namespace fpalg {

// Returns the number of foreground blocks.
int quantise_view(const RidgeImage &ridges, View &view);

}  // namespace fpalg

// Skin stretches between two presses, so blocks of an aligned pair agree
// best at slightly different shifts. Each block may move further than the
// rigid verification allows, but only as a smooth displacement field: a
// block that moves away from its neighbours pays for it. Another finger's
// chance agreement is scattered over shifts and no smooth field follows it;
// a stretched copy of the same finger moves whole regions together.
#pragma once

#include "view_image.h"

namespace fpalg {

struct ElasticFit {
    int blocks = 0;                                                // blocks compared
    int good_blocks = 0;                                           // of those, convincing at their shift
    float block_ncc = 0.0f;                                        // mean correlation at the fitted shifts
    signed char dy[params::kBlockGrid * params::kBlockGrid] = {};  // fitted shift per block
    signed char dx[params::kBlockGrid * params::kBlockGrid] = {};
};

// `stored` already lies under `probe` (probe pixel p on stored pixel p).
ElasticFit fit_displacement(const RidgeView &stored, const RidgeView &probe);

}  // namespace fpalg

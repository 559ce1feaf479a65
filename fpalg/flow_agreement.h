// Whether two aligned images run their ridges the same way and as densely.
// Block correlation on a small, noisy overlap can be high by chance in
// parallel ridge flow; the direction and spacing of the ridges are measured
// on every cell of both images alone, so noise that breaks the ridge phase
// leaves them readable, and another finger seldom matches both everywhere.
#pragma once

#include "view_image.h"

namespace fpalg {

struct FlowAgreement {
    int cells = 0;           // cells valid in both
    float direction = 0.0f;  // -1..1: coherence-weighted cosine of twice the angle between the ridges
    float spacing = 0.0f;    // 0..1: mean relative difference of the ridge density (0 = the same)
};

// `stored` already lies under `probe` (probe pixel p on stored pixel p).
FlowAgreement flow_agreement(const RidgeView &stored, const RidgeView &probe);

}  // namespace fpalg

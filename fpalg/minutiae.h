// Ridge endings and bifurcations of an aligned pair. Ridge flow alone can
// look alike on two different fingers over a few millimetres; where the
// ridges end or fork cannot, so after alignment the matcher checks that the
// two images break their ridges in the same places.
#pragma once

#include "view_image.h"

namespace fpalg {

struct MinutiaeAgreement {
    int stored = 0;  // minutiae of the stored image inside the common area
    int probe = 0;   // the same for the probe
    int paired = 0;  // of those, pairs found at the same place
};

struct MinutiaPoint {
    int y = 0, x = 0;
    bool paired = false;
};

// Where the minutiae were (the first `stored` and `probe` entries), for drawing.
struct MinutiaeLayout {
    MinutiaPoint stored[params::kMaxMinutiae], probe[params::kMaxMinutiae];
};

// `stored` and `probe` are in the same coordinates (the stored image already
// moved under the probe). Only the area valid in both is looked at.
MinutiaeAgreement pair_minutiae(const RidgeView &stored, const RidgeView &probe, MinutiaeLayout *layout = nullptr);

}  // namespace fpalg

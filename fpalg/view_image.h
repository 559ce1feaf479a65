// Float images the matcher works on, decoded from stored views: ridge
// values with the background set to zero, and a pixel weight (0 or 1).
// Every image keeps the value +0 wherever the weight is 0: the correlation
// (verify.cpp) relies on it.
#pragma once

#include <array>

#include "template_format.h"

namespace fpalg {

using FloatImage = std::array<float, params::kPixels>;

struct RidgeView {
    FloatImage value{};
    FloatImage weight{};
};

void decode_ridges(const View &view, RidgeView &out);

// Decoded ridges of a template's views, each decoded when first asked for:
// most comparisons look closely at only the few views the best coarse
// alignments lie on. The template must outlive its use here.
class StoredRidges {
public:
    void reset(const Template &t);
    const RidgeView &operator[](int v) const;

private:
    const Template *template_ = nullptr;
    mutable std::array<bool, params::kMaxViews> ready_{};
    mutable std::array<RidgeView, params::kMaxViews> views_;
};

// The same ridges rotated by `deci_degrees` tenths of a degree about the
// image centre (bilinear); pixels that fall outside get weight 0.
void rotate_ridges(const RidgeView &in, int deci_degrees, RidgeView &out);

}  // namespace fpalg

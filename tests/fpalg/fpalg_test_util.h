// Helpers shared by the matcher's tests: templates made through the public
// calls from synthetic prints.
#pragma once

#include <cstdint>
#include <vector>

#include "../../engine/alg/fpalg.h"
#include "synthetic_print.h"

namespace fpalg_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes make_template(const std::vector<std::uint16_t> &image, int *result = nullptr) {
    Bytes t(FPALG_TEMPLATE_SIZE), scratch(FPALG_SCRATCH_SIZE), record(FPALG_COUNT_RECORD_SIZE);
    const int r = FpAlg_CreateTemplate16(image.data(), scratch.data(), 96, 96, t.data(), record.data());
    if (result) *result = r;
    return t;
}

inline int merge(const Bytes &a, const Bytes &b, Bytes &out) {
    out.assign(FPALG_TEMPLATE_SIZE, 0);
    std::int16_t o1, o2, o3;
    return FpAlg_MergeFeature(a.data(), b.data(), out.data(), &o1, &o2, &o3);
}

inline int score(const Bytes &stored, const Bytes &probe) { return FpAlg_MatchScore(stored.data(), probe.data()); }

// Nine captures on a 3 x 3 grid 24 px apart around (cy, cx), merged the way
// the daemon enrolls.
inline Bytes enroll_grid(const SyntheticPrint &p, double cy = 128, double cx = 128) {
    Bytes last;
    for (int gy = -1; gy <= 1; ++gy)
        for (int gx = -1; gx <= 1; ++gx) {
            const Bytes t = make_template(p.capture(cy + 24 * gy, cx + 24 * gx));
            if (last.empty()) {
                last = t;
                continue;
            }
            Bytes out;
            if (merge(last, t, out) == 0) last = out;
        }
    return last;
}

}  // namespace fpalg_test

// Enrollment as the daemon stages it, for the bench tools: each capture
// becomes a one-view template and is merged into the template built so far;
// captures that give no template or that the merge refuses are skipped, and
// enrollment ends with nine views merged.
#pragma once

#include <cstdint>
#include <vector>

#include "create.h"
#include "merge.h"
#include "template_format.h"

namespace fpalg::bench {

inline constexpr int kEnrollStages = 9;

// next(image) fills a 96 x 96 10-bit capture and returns false when the
// finger has no capture left. False when the captures ran out first.
// `sources`, when given, receives for each view of the template the index
// of the capture (in the order next() gave them) it was made from.
template <class NextCapture>
bool enroll_captures(NextCapture &&next, Template &out, std::vector<int> *sources = nullptr) {
    std::vector<Template> buf(kEnrollStages);
    std::vector<int> from(kEnrollStages);
    std::vector<std::uint16_t> img(params::kPixels);
    Template last;
    int s = 1;
    for (int taken = 0; next(img); ++taken) {
        int fg = 0;
        if (create_template(img.data(), buf[s - 1], fg) != CreateResult::made) continue;
        from[s - 1] = taken;
        if (s >= 2) {
            Template merged;
            if (merge_templates(s == 2 ? buf[0] : last, buf[s - 1], merged) != MergeResult::merged) {
                if (s == 2) {
                    buf[0] = buf[1];
                    from[0] = from[1];
                }
                continue;
            }
            last = merged;
        }
        if (++s == kEnrollStages + 1) {
            out = last;
            if (sources) *sources = from;
            return true;
        }
    }
    return false;
}

}  // namespace fpalg::bench

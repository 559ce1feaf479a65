#include "merge.h"

#include "match.h"
#include "registration.h"

namespace fpalg {
namespace {

// A capture that lies on a stored view almost pixel for pixel brings no new
// area and no new evidence.
bool repeats_stored_view(const ScoreParts &p) {
    // Area covered by several stored views together is not a repeat: only
    // one view holding nearly all of the capture is.
    return p.union_px == 0 && p.overlap_px >= params::kDuplicateOverlapPx && p.ncc >= params::kDuplicateNcc;
}

}  // namespace

MergeResult merge_templates(const Template &a, const Template &b, Template &out) {
    out = a;
    int added = 0;
    for (int i = 0; i < b.view_count; ++i) {
        Template single;
        single.view_count = 1;
        single.views[0] = b.views[i];
        // A repeat is told by the rigid alignment alone.
        const ScoreParts p = match_templates(out, single, false);
        if (repeats_stored_view(p)) continue;
        if (out.view_count >= params::kEnrollViews) return MergeResult::full;
        View &v = out.views[out.view_count];
        v = b.views[i];
        v.hits = 0;
        v.origin = 0;
        ++out.view_count;
        register_view(out, out.view_count - 1);
        ++added;
    }
    return added ? MergeResult::merged : MergeResult::nothing_new;
}

}  // namespace fpalg

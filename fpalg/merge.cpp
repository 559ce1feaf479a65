#include "merge.h"

#include "match.h"

namespace fpalg {
namespace {

// A capture that lies on a stored view almost pixel for pixel brings no new
// area and no new evidence.
bool repeats_stored_view(const Template &stored, const View &v) {
    Template single;
    single.view_count = 1;
    single.views[0] = v;
    const ScoreParts p = match_templates(stored, single);
    return p.overlap_px >= params::kDuplicateOverlapPx && p.ncc >= params::kDuplicateNcc;
}

}  // namespace

MergeResult merge_templates(const Template &a, const Template &b, Template &out) {
    out = a;
    int added = 0;
    for (int i = 0; i < b.view_count; ++i) {
        const View &v = b.views[i];
        if (repeats_stored_view(out, v)) continue;
        if (out.view_count >= params::kEnrollViews) return MergeResult::full;
        out.views[out.view_count] = v;
        out.views[out.view_count].hits = 0;
        out.views[out.view_count].origin = 0;
        ++out.view_count;
        ++added;
    }
    return added ? MergeResult::merged : MergeResult::nothing_new;
}

}  // namespace fpalg

#include "merge.h"

#include <cmath>
#include <numbers>

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

bool convincing(const ScoreParts &p) {
    return p.view >= 0 && p.block_ncc >= params::kRegisterBlockNcc && p.blocks >= params::kRegisterMinBlocks;
}

// Alignment of view `index` on stored view `on` alone, as a pose in the
// frame of `on`.
bool align_on_view(const Template &t, int on, int index, Pose &pose, float &strength) {
    Template stored, probe;
    stored.view_count = probe.view_count = 1;
    stored.views[0] = t.views[on];
    probe.views[0] = t.views[index];
    ScoreParts p = match_templates(stored, probe);
    if (!convincing(p)) return false;
    p.view = on;
    pose = pose_from_alignment(pose_of(t.views[on]), p);
    strength = p.raw;
    return true;
}

// Carries every view of frame `from` into frame `to`, given the pose of one
// capture in both frames: frame `from` -> capture -> frame `to`. Leaves the
// frames apart when a carried pose would not fit the stored range.
void fold_frame(Template &t, int from, int to, const Pose &in_from, const Pose &in_to) {
    constexpr double kMid = (params::kSide - 1) / 2.0;
    constexpr double kTurn = 2.0 * std::numbers::pi;
    Pose folded[params::kMaxViews];
    for (int u = 0; u < t.view_count; ++u) {
        if (t.views[u].frame != from) continue;
        const Pose pw = pose_of(t.views[u]);
        double gy, gx, vy, vx, fy, fx;
        pw.apply(kMid, kMid, gy, gx);
        in_from.invert(gy, gx, vy, vx);
        in_to.apply(vy, vx, fy, fx);
        folded[u] = Pose::make(std::remainder(in_to.angle - in_from.angle + pw.angle, kTurn), fy - kMid, fx - kMid);
        if (std::abs(folded[u].ty) * 8 > params::kMaxPoseShiftEighths || std::abs(folded[u].tx) * 8 > params::kMaxPoseShiftEighths) return;
    }
    for (int u = 0; u < t.view_count; ++u)
        if (t.views[u].frame == from) set_pose(t.views[u], to, folded[u]);
}

// Places view `index` in the frame it aligns on most convincingly, and
// joins every other frame it also aligns on to that one, so that the views
// grow into one mosaic even when they arrive in an order where early ones
// do not overlap. A view that aligns on nothing starts a frame of its own.
void register_view(Template &t, int index) {
    View &v = t.views[index];
    set_own_frame(v, index);
    bool found[params::kMaxViews] = {};
    Pose pose[params::kMaxViews];
    float strength[params::kMaxViews] = {};
    for (int u = 0; u < index; ++u) {
        Pose p;
        float s = 0.0f;
        const int f = t.views[u].frame;
        if (!align_on_view(t, u, index, p, s) || (found[f] && s <= strength[f])) continue;
        found[f] = true;
        pose[f] = p;
        strength[f] = s;
    }
    int home = -1;
    for (int f = 0; f < params::kMaxViews; ++f)
        if (found[f] && (home < 0 || strength[f] > strength[home])) home = f;
    if (home < 0) return;
    set_pose(v, home, pose[home]);
    for (int f = 0; f < params::kMaxViews; ++f)
        if (found[f] && f != home) fold_frame(t, f, home, pose[f], pose[home]);
}

}  // namespace

MergeResult merge_templates(const Template &a, const Template &b, Template &out) {
    out = a;
    int added = 0;
    for (int i = 0; i < b.view_count; ++i) {
        Template single;
        single.view_count = 1;
        single.views[0] = b.views[i];
        const ScoreParts p = match_templates(out, single);
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

#include "registration.h"

#include <cmath>
#include <numbers>

#include "fixed_trig.h"
#include "match.h"

namespace fpalg {
namespace {
constexpr double kMid = (params::kSide - 1) / 2.0;

// The rotation used by rotate_ridges(): (dy, dx) -> (-s dx + c dy, c dx + s dy).
void rotate(double c, double s, double dy, double dx, double &ry, double &rx) {
    rx = c * dx + s * dy;
    ry = -s * dx + c * dy;
}

// An alignment sure enough to place one view in the frame of another.
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
    strength = p.hand_raw;
    return true;
}

// Carries every view of frame `from` into frame `to`, given the pose of one
// capture in both frames: frame `from` -> capture -> frame `to`. Leaves the
// frames apart when a carried pose would not fit the stored range.
void fold_frame(Template &t, int from, int to, const Pose &in_from, const Pose &in_to) {
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
        if (std::abs(folded[u].ty) * 8 > params::kMaxPoseShiftEighths ||
            std::abs(folded[u].tx) * 8 > params::kMaxPoseShiftEighths)
            return;
    }
    for (int u = 0; u < t.view_count; ++u)
        if (t.views[u].frame == from) set_pose(t.views[u], to, folded[u]);
}

}  // namespace

Pose Pose::make(double angle, double ty, double tx) { return {angle, ty, tx, fixed_cos(angle), fixed_sin(angle)}; }

void Pose::apply(double y, double x, double &gy, double &gx) const {
    rotate(cos_a, sin_a, y - kMid, x - kMid, gy, gx);
    gy += kMid + ty;
    gx += kMid + tx;
}

void Pose::invert(double gy, double gx, double &y, double &x) const {
    rotate(cos_a, -sin_a, gy - kMid - ty, gx - kMid - tx, y, x);
    y += kMid;
    x += kMid;
}

Pose pose_of(const View &v) {
    return Pose::make(deci_degrees_to_radians(v.pose_angle_deci), v.pose_ty_eighths / 8.0, v.pose_tx_eighths / 8.0);
}

void set_own_frame(View &v, int index) {
    v.frame = static_cast<std::uint8_t>(index);
    v.pose_angle_deci = v.pose_ty_eighths = v.pose_tx_eighths = 0;
}

void set_pose(View &v, int frame, const Pose &p) {
    v.frame = static_cast<std::uint8_t>(frame);
    v.pose_angle_deci = static_cast<std::int16_t>(std::lround(p.angle * 1800.0 / std::numbers::pi));
    v.pose_ty_eighths = static_cast<std::int16_t>(std::lround(p.ty * 8.0));
    v.pose_tx_eighths = static_cast<std::int16_t>(std::lround(p.tx * 8.0));
}

Pose pose_from_alignment(const Pose &base, const ScoreParts &parts) {
    // Capture pixel n lies on base pixel R(-a)(n - c) + c + d, so its pose
    // rotates by base.angle - a and translates by R(base.angle) d + t.
    double ry, rx;
    rotate(base.cos_a, base.sin_a, parts.dy, parts.dx, ry, rx);
    return Pose::make(base.angle - deci_degrees_to_radians(parts.angle_deci), base.ty + ry, base.tx + rx);
}

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

}  // namespace fpalg

#include "registration.h"

#include <cmath>
#include <numbers>

#include "fixed_trig.h"

namespace fpalg {
namespace {
constexpr double kMid = (params::kSide - 1) / 2.0;

// The rotation used by rotate_ridges(): (dy, dx) -> (-s dx + c dy, c dx + s dy).
void rotate(double c, double s, double dy, double dx, double &ry, double &rx) {
    rx = c * dx + s * dy;
    ry = -s * dx + c * dy;
}
}  // namespace

Pose Pose::make(double angle, double ty, double tx) {
    return {angle, ty, tx, fixed_cos(angle), fixed_sin(angle)};
}

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

}  // namespace fpalg

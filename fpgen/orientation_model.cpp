#include "orientation_model.h"

#include <cmath>

#include "detmath.h"

namespace fpgen {

namespace {

// arg(z - p) passed through the point's correction, interpolated linearly
// between the nine nodes at multiples of pi/4.
double corrected_arg(const SingularPoint &p, double x, double y)
{
    // Math convention (y up) so that the model's signs read naturally.
    const double a = det_atan2(-(y - p.y), x - p.x); // (-pi, pi]
    const double pos = (a + kPi) / (kPi / 4.0);      // [0, 8]
    int i = static_cast<int>(pos);
    if (i > 7)
        i = 7;
    const double f = pos - i;
    return a + p.correction[i] + (p.correction[i + 1] - p.correction[i]) * f;
}

SingularPoint make_point(Rng &rng, double x, double y, double bend)
{
    SingularPoint p;
    p.x = x;
    p.y = y;
    for (int i = 0; i < 8; ++i)
        p.correction[i] = rng.uniform(-bend, bend);
    p.correction[8] = p.correction[0]; // -pi and pi are the same direction
    return p;
}

} // namespace

double OrientationModel::at(double x, double y) const
{
    const double dx = x - centre_x;
    const double dy = y - centre_y;
    const double theta = model_at(centre_x + warp[0] * dx + warp[1] * dy, centre_y + warp[2] * dx + warp[3] * dy);
    // A direction in the model maps back through the inverse warp.
    const double c = det_cos(theta);
    const double s = det_sin(theta);
    return wrap_pi(det_atan2(unwarp[2] * c + unwarp[3] * s, unwarp[0] * c + unwarp[1] * s));
}

double OrientationModel::model_at(double x, double y) const
{
    double theta = theta0; // math convention: counter-clockwise, y up
    if (cls == PatternClass::Arch) {
        // Ridges follow y = h * exp(-dx^2 / 2w^2): bumps over the centre,
        // flattening towards the sides and the bottom of the finger.
        const double dx = x - arch_cx;
        const double fall = (y - arch_cy) / (2.5 * arch_width);
        const double h = arch_height * det_exp(-fall * fall);
        const double w2 = arch_width * arch_width;
        const double slope = -h * dx / w2 * det_exp(-dx * dx / (2.0 * w2));
        theta += det_atan2(slope, 1.0);
    } else {
        double sum = 0.0;
        for (const auto &c : cores)
            sum += corrected_arg(c, x, y);
        for (const auto &d : deltas)
            sum -= corrected_arg(d, x, y);
        theta += 0.5 * sum;
    }
    return wrap_pi(-theta); // back to y-down image angles
}

PatternClass draw_pattern_class(Rng &rng, bool realistic)
{
    const double u = rng.uniform();
    if (realistic) {
        if (u < 0.04)
            return PatternClass::Arch;
        if (u < 0.07)
            return PatternClass::TentedArch;
        if (u < 0.41)
            return PatternClass::LeftLoop;
        if (u < 0.73)
            return PatternClass::RightLoop;
        return PatternClass::Whorl;
    }
    // Roughly the natural frequencies of the five classes.
    if (u < 0.05)
        return PatternClass::Arch;
    if (u < 0.11)
        return PatternClass::TentedArch;
    if (u < 0.44)
        return PatternClass::LeftLoop;
    if (u < 0.75)
        return PatternClass::RightLoop;
    return PatternClass::Whorl;
}

OrientationModel make_orientation_model(Rng &rng, PatternClass cls, double cx, double cy, bool realistic)
{
    // The realistic ranges are wider; both draw the same numbers in the same
    // order, so the first model's fingers stay as they were.
    const bool r = realistic;
    const double bend = r ? 0.45 : 0.25;
    OrientationModel m;
    m.cls = cls;
    m.theta0 = rng.uniform(-0.08, 0.08);
    const double core_x = cx + rng.uniform(r ? -24.0 : -12.0, r ? 24.0 : 12.0);
    const double core_y = cy + rng.uniform(r ? -22.0 : -10.0, r ? 28.0 : 15.0);
    // Every draw is its own statement: the order in which a compiler
    // evaluates function arguments is unspecified, the order of draws is not.
    switch (cls) {
    case PatternClass::Arch:
        m.arch_cx = core_x;
        m.arch_cy = core_y + rng.uniform(0.0, 30.0);
        m.arch_height = rng.uniform(r ? 15.0 : 25.0, r ? 55.0 : 45.0);
        m.arch_width = rng.uniform(r ? 40.0 : 45.0, r ? 90.0 : 70.0);
        break;
    case PatternClass::TentedArch: {
        m.cores.push_back(make_point(rng, core_x, core_y, bend));
        const double dx = rng.uniform(r ? -10.0 : -6.0, r ? 10.0 : 6.0);
        const double dy = rng.uniform(r ? 40.0 : 35.0, r ? 80.0 : 60.0);
        m.deltas.push_back(make_point(rng, core_x + dx, core_y + dy, bend));
        break;
    }
    case PatternClass::LeftLoop:
    case PatternClass::RightLoop: {
        // A left loop opens to the left, so its delta lies to the lower right.
        const double side = cls == PatternClass::LeftLoop ? 1.0 : -1.0;
        m.cores.push_back(make_point(rng, core_x, core_y, bend));
        const double dx = side * rng.uniform(r ? 65.0 : 70.0, r ? 125.0 : 110.0);
        const double dy = rng.uniform(r ? 75.0 : 55.0, r ? 130.0 : 95.0);
        m.deltas.push_back(make_point(rng, core_x + dx, core_y + dy, bend));
        break;
    }
    case PatternClass::Whorl: {
        // Close cores give a spiral or concentric whorl, distant ones a
        // double loop.
        const double half = rng.uniform(r ? 4.0 : 6.0, r ? 34.0 : 28.0);
        const double tilt = rng.uniform(r ? -0.9 : -0.6, r ? 0.9 : 0.6);
        const double dx = half * det_sin(tilt);
        const double dy = half * det_cos(tilt);
        m.cores.push_back(make_point(rng, core_x - dx, core_y - dy, bend));
        m.cores.push_back(make_point(rng, core_x + dx, core_y + dy, bend));
        const double below = core_y + rng.uniform(r ? 80.0 : 60.0, r ? 125.0 : 95.0);
        for (double side : {-1.0, 1.0}) {
            const double ox = side * rng.uniform(r ? 65.0 : 60.0, r ? 115.0 : 95.0);
            const double oy = rng.uniform(r ? -20.0 : -12.0, r ? 20.0 : 12.0);
            m.deltas.push_back(make_point(rng, core_x + ox, below + oy, bend));
        }
        break;
    }
    }

    m.centre_x = cx;
    m.centre_y = cy;
    const double sx = rng.uniform(r ? 0.78 : 0.82, r ? 1.25 : 1.2);
    const double sy = rng.uniform(r ? 0.78 : 0.82, r ? 1.25 : 1.2);
    const double turn = rng.uniform(r ? -0.35 : -0.25, r ? 0.35 : 0.25);
    const double c = det_cos(turn);
    const double s = det_sin(turn);
    // warp = diag(sx, sy) * rotation(turn); unwarp = rotation(-turn) * diag(1/sx, 1/sy)
    m.warp[0] = sx * c;
    m.warp[1] = -sx * s;
    m.warp[2] = sy * s;
    m.warp[3] = sy * c;
    m.unwarp[0] = c / sx;
    m.unwarp[1] = s / sy;
    m.unwarp[2] = -s / sx;
    m.unwarp[3] = c / sy;
    return m;
}

const char *pattern_name(PatternClass cls)
{
    switch (cls) {
    case PatternClass::Arch: return "arch";
    case PatternClass::TentedArch: return "tented-arch";
    case PatternClass::LeftLoop: return "left-loop";
    case PatternClass::RightLoop: return "right-loop";
    case PatternClass::Whorl: return "whorl";
    }
    return "unknown";
}

} // namespace fpgen

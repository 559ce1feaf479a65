#include "match_picture.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "minutiae.h"
#include "png_canvas.h"
#include "union_canvas.h"
#include "view_image.h"

namespace fpalg_tool {
namespace {

using fpalg::RidgeView;
constexpr int kSide = fpalg::params::kSide;
constexpr int kScale = 3;
constexpr int kPanel = kSide * kScale + 8;

std::uint8_t grey(float v) { return static_cast<std::uint8_t>(std::clamp(128.0f + 80.0f * v, 0.0f, 255.0f)); }

void draw_ridges(PngCanvas &c, int oy, int ox, const RidgeView &r) {
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int i = y * kSide + x;
            const std::uint8_t g = grey(r.value[i]);
            c.cell(oy, ox, y, x, kScale, r.weight[i] > 0.5f ? Rgb{g, g, g} : Rgb{20, 30, 70});
        }
}

// Probe ridges in red, enrolled ridges in green: agreement shows yellow.
void draw_overlay(PngCanvas &c, int oy, int ox, const RidgeView &under, const RidgeView &probe, int dy, int dx) {
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int i = y * kSide + x, py = y - dy, px = x - dx;
            const bool in_probe = py >= 0 && px >= 0 && py < kSide && px < kSide && probe.weight[py * kSide + px] > 0.5f;
            const std::uint8_t r = in_probe ? grey(-probe.value[py * kSide + px]) : 0;
            const std::uint8_t g = under.weight[i] > 0.5f ? grey(-under.value[i]) : 0;
            c.cell(oy, ox, y, x, kScale, Rgb{r, g, 0});
        }
}

// Each 16 x 16 block tinted by its correlation: green agrees, red does not.
void draw_blocks(PngCanvas &c, int oy, int ox, const RidgeView &under, const RidgeView &probe, int dy, int dx) {
    const int b = fpalg::params::kBlock;
    for (int gy = 0; gy < kSide / b; ++gy)
        for (int gx = 0; gx < kSide / b; ++gx) {
            float vp = 0, vv = 0, pp = 0;
            int n = 0;
            for (int y = gy * b; y < gy * b + b; ++y)
                for (int x = gx * b; x < gx * b + b; ++x) {
                    const int py = y - dy, px = x - dx;
                    if (py < 0 || px < 0 || py >= kSide || px >= kSide) continue;
                    const float w = under.weight[y * kSide + x] * probe.weight[py * kSide + px];
                    const float u = under.value[y * kSide + x], p = probe.value[py * kSide + px];
                    vp += w * u * p;
                    vv += w * u * u;
                    pp += w * p * p;
                    n += w > 0.5f;
                }
            const bool enough = n >= fpalg::params::kBlockMinValid && vv > 0 && pp > 0;
            const float r = enough ? vp / std::sqrt(vv * pp) : 0.0f;
            const Rgb col = !enough ? Rgb{40, 40, 40}
                                    : Rgb{static_cast<std::uint8_t>(std::clamp(255.0f * (1 - r), 0.0f, 255.0f)),
                                          static_cast<std::uint8_t>(std::clamp(255.0f * r, 0.0f, 255.0f)), 40};
            for (int y = gy * b; y < gy * b + b; ++y)
                for (int x = gx * b; x < gx * b + b; ++x) c.cell(oy, ox, y, x, kScale, col);
        }
}

// Minutiae as small squares: enrolled in cyan, probe in magenta, those
// found at the same place in both in white.
void draw_minutiae(PngCanvas &c, int oy, int ox, const RidgeView &under, const RidgeView &probe) {
    fpalg::MinutiaeLayout layout;
    const fpalg::MinutiaeAgreement m = fpalg::pair_minutiae(under, probe, &layout);
    const auto mark = [&](const fpalg::MinutiaPoint &p, Rgb col) {
        for (int y = p.y - 1; y <= p.y + 1; ++y)
            for (int x = p.x - 1; x <= p.x + 1; ++x)
                if (y >= 0 && x >= 0 && y < kSide && x < kSide && (y != p.y || x != p.x)) c.cell(oy, ox, y, x, kScale, col);
    };
    for (int j = 0; j < m.stored; ++j) mark(layout.stored[j], layout.stored[j].paired ? Rgb{255, 255, 255} : Rgb{0, 220, 255});
    for (int i = 0; i < m.probe; ++i) mark(layout.probe[i], layout.probe[i].paired ? Rgb{255, 255, 255} : Rgb{255, 0, 220});
}

}  // namespace

bool draw_template(const fpalg::Template &t, const std::string &png) {
    PngCanvas c(kPanel * t.view_count, kPanel);
    auto r = std::make_unique<RidgeView>();
    for (int v = 0; v < t.view_count; ++v) {
        fpalg::decode_ridges(t.views[v], *r);
        draw_ridges(c, 4, 4 + v * kPanel, *r);
    }
    return c.write(png);
}

bool draw_match(const fpalg::Template &stored, const fpalg::Template &probe, const fpalg::ScoreParts &parts,
                const std::string &png) {
    const int views = stored.view_count;
    PngCanvas c(kPanel * std::max(views, 4), 2 * kPanel);
    auto upright = std::make_unique<RidgeView>(), rotated = std::make_unique<RidgeView>();
    auto decoded = std::make_unique<RidgeView[]>(fpalg::params::kMaxViews);
    auto under = std::make_unique<RidgeView>();
    fpalg::decode_ridges(probe.views[0], *upright);
    // Row 1: probe as captured, probe rotated, probe over the enrolled area with
    // the minutiae of both, block agreement.
    draw_ridges(c, 4, 4, *upright);
    for (int v = 0; v < views; ++v) fpalg::decode_ridges(stored.views[v], decoded[v]);
    if (parts.view >= 0) {
        fpalg::rotate_ridges(*upright, parts.angle_deci, *rotated);
        draw_ridges(c, 4, 4 + kPanel, *rotated);
        fpalg::union_canvas(stored, decoded.get(), parts.view, fpalg::Peak{0.0f, parts.dy, parts.dx}, *under);
        draw_overlay(c, 4, 4 + 2 * kPanel, *under, *rotated, 0, 0);
        draw_minutiae(c, 4, 4 + 2 * kPanel, *under, *rotated);
        draw_blocks(c, 4, 4 + 3 * kPanel, *under, *rotated, 0, 0);
    }
    // Row 2: the stored views; the one the probe landed on is framed.
    for (int v = 0; v < views; ++v) {
        if (v == parts.view)
            for (int y = -1; y <= kSide; ++y)
                for (int x = -1; x <= kSide; ++x) c.cell(kPanel + 4, 4 + v * kPanel, y, x, kScale, Rgb{255, 200, 0});
        draw_ridges(c, kPanel + 4, 4 + v * kPanel, decoded[v]);
    }
    return c.write(png);
}

}  // namespace fpalg_tool

#include "match_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "minutiae.h"
#include "png_canvas.h"
#include "registration.h"
#include "text.h"
#include "union_canvas.h"
#include "view_image.h"

namespace fpalg_tool {
namespace {

using fpalg::RidgeView;
constexpr int kSide = fpalg::params::kSide;
constexpr int kScale = 3;
constexpr int kPanel = kSide * kScale;  // 288 px
constexpr int kMosaicW = 384;           // the mosaic is wider than one view
constexpr int kMargin = 16;
constexpr int kGap = 20;

const Rgb kBackground{28, 30, 40};
const Rgb kText{235, 235, 235};
const Rgb kDim{165, 170, 185};
const Rgb kPanelBack{12, 14, 22};
const Rgb kMatchGreen{90, 220, 110};
const Rgb kRejectRed{255, 90, 80};
const Rgb kPaired{255, 230, 0};
const Rgb kEnrolledMark{0, 220, 255};
const Rgb kProbeMark{255, 60, 230};
const Rgb kOutline{255, 230, 0};
const Rgb kLandedView{255, 150, 30};
const Rgb kProbeOnly{70, 110, 230};
const Rgb kEnrolledOnly{120, 120, 120};

std::uint8_t clamp8(float v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f)); }
// Ridge values are signed; ridges (negative) are drawn dark, as on paper.
std::uint8_t grey(float v) { return clamp8(128.0f + 80.0f * v); }
Rgb scaled(Rgb c, float f) { return Rgb{clamp8(c.r * f), clamp8(c.g * f), clamp8(c.b * f)}; }

bool valid(const RidgeView &r, int y, int x) {
    return y >= 0 && x >= 0 && y < kSide && x < kSide && r.weight[y * kSide + x] > 0.5f;
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string degrees(int deci) { return format("%+.1f\u00b0", deci / 10.0); }

struct Fonts {
    Font title{true, 22}, label{true, 15}, body{false, 14};
};

void frame_box(PngCanvas &c, int y, int x, int h, int w, Rgb col) {
    c.fill(y - 1, x - 1, 1, w + 2, col);
    c.fill(y + h, x - 1, 1, w + 2, col);
    c.fill(y - 1, x - 1, h + 2, 1, col);
    c.fill(y - 1, x + w, h + 2, 1, col);
}

// Panel 1: the probe's pixels as the sensor sent them.
void draw_capture(PngCanvas &c, int oy, int ox, const std::vector<std::uint16_t> &img, const Fonts &f) {
    if (img.size() != static_cast<std::size_t>(kSide * kSide)) {
        f.body.draw(c, ox + 12, oy + kPanel / 2, "(given as a template:", kDim);
        f.body.draw(c, ox + 12, oy + kPanel / 2 + 18, " no image to show)", kDim);
        return;
    }
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const std::uint8_t g = static_cast<std::uint8_t>(img[y * kSide + x] >> 2);
            c.cell(oy, ox, y, x, kScale, Rgb{g, g, g});
        }
}

// Panel 2: the ridge image the library extracted; background dark blue.
void draw_ridges(PngCanvas &c, int oy, int ox, const RidgeView &r) {
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int i = y * kSide + x;
            const std::uint8_t g = grey(r.value[i]);
            c.cell(oy, ox, y, x, kScale, r.weight[i] > 0.5f ? Rgb{g, g, g} : Rgb{20, 30, 70});
        }
}

// Panel 3: every view of the landed view's frame placed by its pose, the
// landed view framed, and the probe's outline where the alignment puts it.
// Returns the number of views drawn.
int draw_mosaic(PngCanvas &c, int oy, int ox, const fpalg::Template &stored, const RidgeView *views,
                const fpalg::ScoreParts &parts, const RidgeView &rotated) {
    const int on = parts.view;
    std::vector<int> order{on};
    for (int u = 0; u < stored.view_count; ++u)
        if (u != on && stored.views[u].frame == stored.views[on].frame) order.push_back(u);
    std::vector<fpalg::Pose> poses;
    double y0 = 1e9, x0 = 1e9, y1 = -1e9, x1 = -1e9;
    const auto extend = [&](double gy, double gx) {
        y0 = std::min(y0, gy), x0 = std::min(x0, gx), y1 = std::max(y1, gy), x1 = std::max(x1, gx);
    };
    for (int u : order) {
        poses.push_back(fpalg::pose_of(stored.views[u]));
        for (int cy : {0, kSide - 1})
            for (int cx : {0, kSide - 1}) {
                double gy, gx;
                poses.back().apply(cy, cx, gy, gx);
                extend(gy, gx);
            }
    }
    // Probe pixel q (rotated) lies on landed-view pixel q + (dy, dx).
    const auto probe_to_frame = [&](double y, double x, double &gy, double &gx) {
        poses[0].apply(y + parts.dy, x + parts.dx, gy, gx);
    };
    std::vector<std::pair<double, double>> outline;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            if (valid(rotated, y, x) && (!valid(rotated, y - 1, x) || !valid(rotated, y + 1, x) ||
                                         !valid(rotated, y, x - 1) || !valid(rotated, y, x + 1))) {
                double gy, gx;
                probe_to_frame(y, x, gy, gx);
                outline.emplace_back(gy, gx);
                extend(gy, gx);
            }
    const double s = std::min({3.0, (kPanel - 8) / (y1 - y0 + 1), (kMosaicW - 8) / (x1 - x0 + 1)});
    const double py0 = oy + (kPanel - (y1 - y0 + 1) * s) / 2, px0 = ox + (kMosaicW - (x1 - x0 + 1) * s) / 2;
    for (int py = 0; py < kPanel; ++py)
        for (int px = 0; px < kMosaicW; ++px) {
            const double gy = y0 + (oy + py - py0) / s, gx = x0 + (ox + px - px0) / s;
            for (std::size_t k = 0; k < order.size(); ++k) {
                double vy, vx;
                poses[k].invert(gy, gx, vy, vx);
                const int iy = static_cast<int>(std::lround(vy)), ix = static_cast<int>(std::lround(vx));
                if (!valid(views[order[k]], iy, ix)) continue;
                const std::uint8_t g = grey(views[order[k]].value[iy * kSide + ix]);
                c.set(oy + py, ox + px, Rgb{g, g, g});
                break;
            }
        }
    const auto plot = [&](double gy, double gx, Rgb col) {
        const int y = static_cast<int>(std::lround(py0 + (gy - y0) * s));
        const int x = static_cast<int>(std::lround(px0 + (gx - x0) * s));
        if (y >= oy && x >= ox && y < oy + kPanel && x < ox + kMosaicW) c.fill(y - 1, x - 1, 2, 2, col);
    };
    // The landed view's border, then the probe's outline over everything.
    for (int t = 0; t < kSide; ++t)
        for (const auto &[y, x] :
             {std::pair{0, t}, std::pair{kSide - 1, t}, std::pair{t, 0}, std::pair{t, kSide - 1}}) {
            double gy, gx;
            poses[0].apply(y, x, gy, gx);
            plot(gy, gx, kLandedView);
        }
    for (const auto &[gy, gx] : outline) plot(gy, gx, kOutline);
    return static_cast<int>(order.size());
}

// Local correlation at which the overlap is drawn fully green, yellow and
// fully red. A window of about one ridge period: a smaller one finds any
// two parallel ridges alike.
constexpr float kAgree = 0.7f, kUnrelated = 0.2f, kContradict = -0.3f;
constexpr int kAgreeRadius = 4;

Rgb agreement_colour(float r) {
    const float t = r >= kUnrelated ? std::min(1.0f, (r - kUnrelated) / (kAgree - kUnrelated))
                                    : -std::min(1.0f, (kUnrelated - r) / (kUnrelated - kContradict));
    return t >= 0 ? Rgb{clamp8(230 * (1 - t)), 220, 60} : Rgb{240, clamp8(220 * (1 + t)), 50};
}

// Panel 4: where both images have ridges, each pixel coloured by how well
// they agree around it (green agrees, red contradicts); elsewhere the image
// that alone covers it, dimmed. Ridges stay visible through the colour.
void draw_agreement(PngCanvas &c, int oy, int ox, const RidgeView &under, const RidgeView &probe) {
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int i = y * kSide + x;
            const bool u = valid(under, y, x), p = valid(probe, y, x);
            Rgb col = kPanelBack;
            if (u && p) {
                float up = 0, uu = 0, pp = 0;
                for (int ny = y - kAgreeRadius; ny <= y + kAgreeRadius; ++ny)
                    for (int nx = x - kAgreeRadius; nx <= x + kAgreeRadius; ++nx) {
                        if (!valid(under, ny, nx) || !valid(probe, ny, nx)) continue;
                        const float a = under.value[ny * kSide + nx], b = probe.value[ny * kSide + nx];
                        up += a * b, uu += a * a, pp += b * b;
                    }
                const float r = uu > 0 && pp > 0 ? up / std::sqrt(uu * pp) : 0.0f;
                const Rgb base = agreement_colour(r);
                col = scaled(base, 0.55f + 0.45f * std::clamp(0.5f - 0.5f * probe.value[i], 0.0f, 1.0f));
            } else if (p) {
                col = scaled(kProbeOnly, 0.4f + 0.4f * std::clamp(0.5f - 0.5f * probe.value[i], 0.0f, 1.0f));
            } else if (u) {
                col = scaled(kEnrolledOnly, 0.4f + 0.4f * std::clamp(0.5f - 0.5f * under.value[i], 0.0f, 1.0f));
            }
            c.cell(oy, ox, y, x, kScale, col);
        }
}

// Minutiae marks, in canvas pixels around image pixel (y, x) of a panel.
void square_mark(PngCanvas &c, int cy, int cx, Rgb col) {
    frame_box(c, cy - 4, cx - 4, 9, 9, Rgb{0, 0, 0});
    frame_box(c, cy - 3, cx - 3, 7, 7, col);
}
void cross_mark(PngCanvas &c, int cy, int cx, Rgb col) {
    c.fill(cy - 1, cx - 6, 3, 13, Rgb{0, 0, 0});
    c.fill(cy - 6, cx - 1, 13, 3, Rgb{0, 0, 0});
    c.fill(cy, cx - 5, 1, 11, col);
    c.fill(cy - 5, cx, 11, 1, col);
}

void draw_minutiae(PngCanvas &c, int oy, int ox, const RidgeView &under, const RidgeView &probe,
                   fpalg::MinutiaeAgreement &m) {
    fpalg::MinutiaeLayout layout;
    m = fpalg::pair_minutiae(under, probe, &layout);
    const auto at = [&](const fpalg::MinutiaPoint &p, int &cy, int &cx) {
        cy = oy + p.y * kScale + kScale / 2, cx = ox + p.x * kScale + kScale / 2;
    };
    int cy, cx;
    for (int j = 0; j < m.stored; ++j) {
        at(layout.stored[j], cy, cx);
        square_mark(c, cy, cx, layout.stored[j].paired ? kPaired : kEnrolledMark);
    }
    for (int i = 0; i < m.probe; ++i) {
        at(layout.probe[i], cy, cx);
        cross_mark(c, cy, cx, layout.probe[i].paired ? kPaired : kProbeMark);
    }
}

void swatch(PngCanvas &c, int y, int x, Rgb col) {
    c.fill(y - 11, x, 12, 18, col);
    frame_box(c, y - 11, x, 12, 18, Rgb{90, 90, 100});
}

// The legend under the panels: colours of the overlap, then the marks.
void draw_legend(PngCanvas &c, int y, const Fonts &f) {
    int x = kMargin;
    x = f.label.draw(c, x, y, "Overlap (4):", kText) + 10;
    const struct {
        Rgb col;
        const char *text;
    } colours[] = {{agreement_colour(kAgree), "ridges agree"},
                   {agreement_colour(kUnrelated), "unrelated"},
                   {agreement_colour(kContradict), "ridges contradict"},
                   {kProbeOnly, "probe only"},
                   {kEnrolledOnly, "enrolled only"}};
    for (const auto &s : colours) {
        swatch(c, y, x, s.col);
        x = f.body.draw(c, x + 24, y, s.text, kText) + 18;
    }
    y += 26;
    x = kMargin;
    x = f.label.draw(c, x, y, "Minutiae (4):", kText) + 14;
    square_mark(c, y - 5, x + 4, kEnrolledMark);
    x = f.body.draw(c, x + 14, y, "enrolled, unpaired", kText) + 18;
    cross_mark(c, y - 5, x + 5, kProbeMark);
    x = f.body.draw(c, x + 16, y, "probe, unpaired", kText) + 18;
    square_mark(c, y - 5, x + 4, kPaired);
    cross_mark(c, y - 5, x + 22, kPaired);
    x = f.body.draw(c, x + 34, y, "paired (enrolled and probe at the same place)", kText) + 18;
    y += 26;
    x = kMargin;
    x = f.label.draw(c, x, y, "Mosaic (3):", kText) + 10;
    c.fill(y - 6, x, 2, 18, kOutline);
    x = f.body.draw(c, x + 24, y, "probe's outline where the alignment puts it", kText) + 18;
    c.fill(y - 6, x, 2, 18, kLandedView);
    f.body.draw(c, x + 24, y, "the enrolled view it was aligned on", kText);
    y += 22;
    f.body.draw(c, kMargin, y,
                format("Ridges: dark = ridge, light = valley, blue = background the library ignores. Agreement: "
                       "correlation over %d x %d px, green from %.1f, yellow %.1f, red from %.1f.",
                       2 * kAgreeRadius + 1, 2 * kAgreeRadius + 1, kAgree, kUnrelated, kContradict),
                kDim);
}

}  // namespace

bool draw_template(const fpalg::Template &t, const std::string &png) {
    constexpr int kTile = kPanel + 8;
    PngCanvas c(kTile * t.view_count, kTile);
    auto r = std::make_unique<RidgeView>();
    for (int v = 0; v < t.view_count; ++v) {
        fpalg::decode_ridges(t.views[v], *r);
        draw_ridges(c, 4, 4 + v * kTile, *r);
    }
    return c.write(png);
}

bool draw_match(const fpalg::Template &stored, const fpalg::Template &probe, const fpalg::ScoreParts &parts,
                const std::vector<std::uint16_t> &capture, int threshold, const std::string &png) {
    const Fonts f;
    if (!f.title.ok() || !f.body.ok()) return false;
    const int width = 2 * kMargin + 3 * kPanel + kMosaicW + 3 * kGap;
    const int title_h = 96, label_h = 26, caption_h = 28, legend_h = 112;
    PngCanvas c(width, title_h + label_h + kPanel + caption_h + legend_h);
    c.fill(0, 0, c.height(), c.width(), kBackground);

    auto upright = std::make_unique<RidgeView>(), rotated = std::make_unique<RidgeView>();
    auto views = std::make_unique<RidgeView[]>(fpalg::params::kMaxViews);
    auto under = std::make_unique<RidgeView>();
    fpalg::decode_ridges(probe.views[0], *upright);
    for (int v = 0; v < stored.view_count; ++v) fpalg::decode_ridges(stored.views[v], views[v]);
    const bool aligned = parts.view >= 0 && parts.view < stored.view_count;

    // Title: the decision first, then the alignment, then the evidence.
    const bool match = parts.score > threshold;
    int y = kMargin + 20;
    f.title.draw(c, kMargin, y,
                 format("%s: score %d, %s the threshold %d", match ? "MATCH" : "NO MATCH", parts.score,
                        match ? "above" : "not above", threshold),
                 match ? kMatchGreen : kRejectRed);
    y += 26;
    f.body.draw(c, kMargin, y,
                aligned
                    ? format("Best alignment: probe rotated %s and shifted by (%+d, %+d) px (down, right) onto "
                             "enrolled view %d of %d.",
                             degrees(parts.angle_deci).c_str(), parts.dy, parts.dx, parts.view + 1, stored.view_count)
                    : std::string("No alignment of the probe on any enrolled view was found."),
                kText);
    y += 20;
    if (aligned)
        f.body.draw(c, kMargin, y,
                    format("Evidence: ridge correlation %.2f over %d px (%d px from other views), %d of %d blocks "
                           "agree, %d of %d enrolled and %d probe minutiae paired; self-similarity %.2f.",
                           parts.ncc, parts.overlap_px, parts.union_px, parts.good_blocks, parts.blocks,
                           parts.minutiae_paired, parts.minutiae_stored, parts.minutiae_probe, parts.ambiguity),
                    kDim);

    // Panels with a label above and a caption below.
    const int py = title_h + label_h;
    const int px[4] = {kMargin, kMargin + kPanel + kGap, kMargin + 2 * (kPanel + kGap),
                       kMargin + 2 * (kPanel + kGap) + kMosaicW + kGap};
    const int pw[4] = {kPanel, kPanel, kMosaicW, kPanel};
    const char *labels[4] = {"1  Probe as captured", "2  Its ridge image", "3  Enrolled mosaic and the probe",
                             "4  Overlap, coloured by agreement"};
    for (int k = 0; k < 4; ++k) {
        c.fill(py, px[k], kPanel, pw[k], kPanelBack);
        frame_box(c, py, px[k], kPanel, pw[k], Rgb{80, 84, 100});
        f.label.draw(c, px[k], py - 8, labels[k], kText);
    }
    draw_capture(c, py, px[0], capture, f);
    draw_ridges(c, py, px[1], *upright);
    const int cap_y = py + kPanel + 20;
    f.body.draw(c, px[0], cap_y, "96 x 96 px as the sensor sent it", kDim);
    f.body.draw(c, px[1], cap_y, "upright, as extracted", kDim);
    if (aligned) {
        fpalg::rotate_ridges(*upright, parts.angle_deci, *rotated);
        const int drawn = draw_mosaic(c, py, px[2], stored, views.get(), parts, *rotated);
        f.body.draw(c, px[2], cap_y, format("%d of %d enrolled views share this frame", drawn, stored.view_count),
                    kDim);
        auto ridges = std::make_unique<fpalg::StoredRidges>();
        ridges->reset(stored);
        fpalg::union_canvas(stored, *ridges, parts.view, fpalg::Peak{0.0f, parts.dy, parts.dx}, *under);
        draw_agreement(c, py, px[3], *under, *rotated);
        fpalg::MinutiaeAgreement m;
        draw_minutiae(c, py, px[3], *under, *rotated, m);
        f.body.draw(c, px[3], cap_y, format("probe turned %s, mosaic under it", degrees(parts.angle_deci).c_str()),
                    kDim);
    } else {
        for (int k : {2, 3}) f.body.draw(c, px[k] + 12, py + kPanel / 2, "no alignment", kDim);
    }
    draw_legend(c, py + kPanel + caption_h + 26, f);
    return c.write(png);
}

}  // namespace fpalg_tool

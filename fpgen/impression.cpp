// Renders one impression of a master: where and how the finger was put on
// the glass, how hard, how wet, and what the sensor added.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "detmath.h"
#include "fpgen.h"
#include "impression.h"
#include "master.h"
#include "value_noise.h"

namespace fpgen {

namespace {

constexpr uint64_t kStreamImpression = 16;
constexpr double kDegree = kPi / 180.0;

uint64_t impression_key(uint32_t seed, int finger, int impression)
{
    return stream_key(seed, static_cast<uint64_t>(finger), static_cast<uint64_t>(impression), kStreamImpression);
}

double smoothstep01(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// One pass of the separable [1 2 1] / 4 filter, edges repeated.
void blur121(std::vector<double> &img, int w, int h)
{
    std::vector<double> tmp(img.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double *row = &img[static_cast<size_t>(y) * w];
            tmp[static_cast<size_t>(y) * w + x] =
                0.25 * row[std::max(x - 1, 0)] + 0.5 * row[x] + 0.25 * row[std::min(x + 1, w - 1)];
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t up = static_cast<size_t>(std::max(y - 1, 0)) * w + x;
            const size_t down = static_cast<size_t>(std::min(y + 1, h - 1)) * w + x;
            img[static_cast<size_t>(y) * w + x] =
                0.25 * tmp[up] + 0.5 * tmp[static_cast<size_t>(y) * w + x] + 0.25 * tmp[down];
        }
}

} // namespace

Rotation::Rotation(double angle) : c(det_cos(angle)), s(det_sin(angle)) {}

void Rotation::apply(double &x, double &y) const
{
    const double rx = c * x - s * y;
    const double ry = s * x + c * y;
    x = rx;
    y = ry;
}

double carelessness(Style style)
{
    switch (style) {
    case Style::easy: return 0.0;
    case Style::normal: return 1.0;
    case Style::hard: return 1.5;
    }
    return 1.0;
}

Placement draw_placement(Rng &rng, const Master &m, int w, int h, Style style)
{
    // The easy style keeps the first model's ranges; the others scale with
    // how carelessly the finger is put down. Both draw the same numbers in
    // the same order.
    const double k = carelessness(style);
    const bool easy = style == Style::easy;
    Placement p;
    p.half_w = w * 0.5;
    p.half_h = h * 0.5;
    p.place = Rotation(rng.uniform(easy ? -20.0 : -20.0 * k, easy ? 20.0 : 20.0 * k) * kDegree);
    if (easy) {
        // Near the core: a shift that grows with the window so small windows
        // still overlap from one impression to the next.
        const double shift = std::min(40.0, 10.0 + 0.1 * std::min(w, h));
        p.ox = m.cx + rng.uniform(-shift, shift);
        p.oy = m.cy + 8.0 + rng.uniform(-shift, shift);
    } else {
        // Anywhere on the pad, as a real sensor window falls.
        p.ox = m.cx + rng.uniform(-34.0 * k, 34.0 * k);
        p.oy = m.cy + 10.0 + rng.uniform(-40.0 * k, 40.0 * k);
    }
    // Plastic distortion: the skin inside the contact core sticks to the
    // glass; beyond it a twist and drag of the finger move the skin more and
    // more, fully outside core + transition band.
    p.core_x = rng.uniform(-0.12, 0.12) * w;
    p.core_y = rng.uniform(-0.12, 0.12) * h;
    p.core_r = rng.uniform(easy ? 18.0 : 10.0, easy ? 40.0 : 35.0);
    p.band = rng.uniform(easy ? 45.0 : 35.0, 90.0);
    const double twist = easy ? 9.0 : 13.0 * k;
    const double drag = easy ? 9.0 : 14.0 * k;
    p.twist = Rotation(rng.uniform(-twist, twist) * kDegree);
    p.drag_x = rng.uniform(-drag, drag);
    p.drag_y = rng.uniform(-drag, drag);
    return p;
}

void Placement::to_master(int u, int v, double &mx, double &my) const
{
    double px = u + 0.5 - half_w;
    double py = v + 0.5 - half_h;
    const double dx = px - core_x;
    const double dy = py - core_y;
    const double dist = std::sqrt(dx * dx + dy * dy);
    const double k = smoothstep01((dist - core_r) / band);
    if (k > 0.0) {
        double tx = dx;
        double ty = dy;
        twist.apply(tx, ty);
        px += k * (tx + drag_x - dx);
        py += k * (ty + drag_y - dy);
    }
    place.apply(px, py);
    mx = px + ox;
    my = py + oy;
}

Placement impression_placement(uint32_t seed, int finger, int impression, int w, int h, Style style)
{
    const auto master = cached_master(seed, finger, style);
    Rng rng(impression_key(seed, finger, impression));
    return draw_placement(rng, *master, w, h, style);
}

void check_size(int w, int h)
{
    if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide)
        throw std::invalid_argument("image size out of range: " + std::to_string(w) + "x" + std::to_string(h));
}

std::vector<double> render_intensity(uint32_t seed, int finger, int impression, int w, int h, Style style)
{
    check_finger(finger);
    if (impression < 0)
        throw std::invalid_argument("impression number must not be negative: " + std::to_string(impression));
    check_size(w, h);
    const auto master = cached_master(seed, finger, style);
    const Master &m = *master;
    Rng rng(impression_key(seed, finger, impression));
    const double k = carelessness(style);
    const bool easy = style == Style::easy;

    const Placement place = draw_placement(rng, m, w, h, style);

    // Partial contact: the pressed area is an ellipse that need not cover
    // the whole fingertip, with a ragged border.
    const double contact_x = m.cx + rng.uniform(-0.15, 0.15) * m.half_width;
    const double contact_y = m.cy + rng.uniform(-0.1, 0.15) * m.half_top;
    const double contact_rx = m.half_width * rng.uniform(0.85, 1.2);
    const double contact_ry = m.half_top * rng.uniform(1.0, 1.4);

    // Pressure and moisture: negative bias thins ridges and breaks them
    // (dry, light touch); positive bias thickens them and fills valleys with
    // blobs (wet, hard press).
    const double press = easy ? 0.35 : 0.3 + 0.15 * k;
    const double bias = rng.uniform(-press, press);
    const double dry = 0.15 + std::max(0.0, -bias) * 1.5;
    const double wet = 0.10 + std::max(0.0, bias) * 1.5;
    const double background = rng.uniform(0.80, 0.95);
    const double contrast = rng.uniform(easy ? 0.45 : 0.35, 0.85);
    const double roughness = rng.uniform(0.1, easy ? 0.35 : 0.25 + 0.1 * k);
    const double noise = rng.uniform(0.02, easy ? 0.07 : 0.04 + 0.03 * k);

    const ValueNoise ragged(rng, m.width, m.height, 24.0);
    const ValueNoise moisture(rng, w, h, 36.0);
    const ValueNoise speckle(rng, w, h, 4.0);
    const ValueNoise light(rng, w, h, 110.0);
    const ValueNoise rough(rng, w, h, 2.5); // ragged ridge edges, pores
    // Real sensors give soft ridges more often than crisp ones: a gentler
    // ridge edge and a blur of up to two passes. The easy style stays crisp.
    const double sharpness = easy ? 1.5 : rng.uniform(0.6, 1.8);
    const int blur = easy ? 0 : static_cast<int>(rng.below(3));

    std::vector<double> dark(static_cast<size_t>(w) * h);
    for (int v = 0; v < h; ++v) {
        for (int u = 0; u < w; ++u) {
            double mx = 0.0;
            double my = 0.0;
            place.to_master(u, v, mx, my);

            const double cxn = (mx - contact_x) / contact_rx;
            const double cyn = (my - contact_y) / contact_ry;
            const double cr = std::sqrt(cxn * cxn + cyn * cyn) + 0.08 * ragged.at(mx, my);
            const double pressed = smoothstep01((1.0 - cr) * 12.0) * m.inside(mx, my);

            double b = bias + 0.15 * moisture.at(u, v) + roughness * rough.at(u, v);
            const double s = speckle.at(u, v);
            // Dry skin breaks ridges into pieces, wet skin bridges valleys.
            if (s < -0.2)
                b -= dry * (-0.2 - s) * 3.0;
            else if (s > 0.55)
                b += wet * (s - 0.55) * 4.5;
            const double ink = smoothstep01(0.5 + sharpness * (m.ridge_at(mx, my) + b));
            dark[static_cast<size_t>(v) * w + u] = contrast * pressed * ink;
        }
    }
    for (int pass = 0; pass < blur; ++pass)
        blur121(dark, w, h);
    std::vector<double> out(dark.size());
    for (int v = 0; v < h; ++v)
        for (int u = 0; u < w; ++u) {
            const double level = background + 0.04 * light.at(u, v);
            out[static_cast<size_t>(v) * w + u] = level - dark[static_cast<size_t>(v) * w + u] + noise * rng.gaussish();
        }
    return out;
}

namespace {

template <typename T>
void quantise(const std::vector<double> &in, T *out, double top)
{
    for (size_t i = 0; i < in.size(); ++i)
        out[i] = static_cast<T>(std::lround(std::clamp(in[i], 0.0, 1.0) * top));
}

} // namespace

Impression render_impression(uint32_t seed, int finger, int impression, int w, int h, Style style)
{
    const auto level = render_intensity(seed, finger, impression, w, h, style);
    Impression img;
    img.width = w;
    img.height = h;
    img.pixels.resize(level.size());
    quantise(level, img.pixels.data(), 255.0);
    return img;
}

Frame12 render_impression12(uint32_t seed, int finger, int impression, Style style)
{
    const auto level = render_intensity(seed, finger, impression, kFrameSide, kFrameSide, style);
    Frame12 img{};
    quantise(level, img.data(), 4095.0);
    return img;
}

Frame render_frame(uint32_t seed, int finger, int impression, Style style)
{
    const Frame12 img = render_impression12(seed, finger, impression, style);
    return pack_frame(img.data());
}

Image render_master(uint32_t seed, int finger, int w, int h, Style style)
{
    const Master m = make_master(seed, finger, w, h, style);
    Image img;
    img.width = w;
    img.height = h;
    img.pixels.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double ink = smoothstep01(0.5 + 0.9 * m.ridge_at(x, y));
            const double depth = 0.35 + 0.6 * m.inside(x, y);
            img.pixels[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::lround((1.0 - depth * ink) * 255.0));
        }
    return img;
}

const char *style_name(Style style)
{
    switch (style) {
    case Style::easy: return "easy";
    case Style::normal: return "normal";
    case Style::hard: return "hard";
    }
    return "unknown";
}

bool parse_style(const char *text, Style &style)
{
    for (Style s : {Style::easy, Style::normal, Style::hard})
        if (std::string(text) == style_name(s)) {
            style = s;
            return true;
        }
    return false;
}

} // namespace fpgen

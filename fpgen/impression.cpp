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

double smoothstep01(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

struct Rotation {
    double c, s;
    explicit Rotation(double angle) : c(det_cos(angle)), s(det_sin(angle)) {}
    void apply(double& x, double& y) const
    {
        const double rx = c * x - s * y;
        const double ry = s * x + c * y;
        x = rx;
        y = ry;
    }
};

} // namespace

void check_size(int w, int h)
{
    if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide)
        throw std::invalid_argument("image size out of range: " + std::to_string(w) + "x" + std::to_string(h));
}

std::vector<double> render_intensity(uint32_t seed, int finger, int impression, int w, int h)
{
    check_finger(finger);
    if (impression < 0)
        throw std::invalid_argument("impression number must not be negative: " + std::to_string(impression));
    check_size(w, h);
    const auto master = cached_master(seed, finger);
    const Master& m = *master;
    Rng rng(stream_key(seed, static_cast<uint64_t>(finger), static_cast<uint64_t>(impression), kStreamImpression));

    // Placement: rotation, and a shift that grows with the window so small
    // windows still overlap from one impression to the next.
    const Rotation place(rng.uniform(-20.0, 20.0) * kDegree);
    const double shift = std::min(40.0, 10.0 + 0.1 * std::min(w, h));
    const double ox = m.cx + rng.uniform(-shift, shift);
    const double oy = m.cy + 8.0 + rng.uniform(-shift, shift);

    // Plastic distortion: the skin inside the contact core sticks to the
    // glass; beyond it, a twist and drag of the finger move the skin more and
    // more, fully outside core + transition band.
    const double core_x = rng.uniform(-0.12, 0.12) * w;
    const double core_y = rng.uniform(-0.12, 0.12) * h;
    const double core_r = rng.uniform(18.0, 40.0);
    const double band = rng.uniform(45.0, 90.0);
    const Rotation twist(rng.uniform(-6.0, 6.0) * kDegree);
    const double drag_x = rng.uniform(-6.0, 6.0);
    const double drag_y = rng.uniform(-6.0, 6.0);

    // Partial contact: the pressed area is an ellipse that need not cover
    // the whole fingertip, with a ragged border.
    const double contact_x = m.cx + rng.uniform(-0.25, 0.25) * m.half_width;
    const double contact_y = m.cy + rng.uniform(-0.2, 0.2) * m.half_top;
    const double contact_rx = m.half_width * rng.uniform(0.85, 1.2);
    const double contact_ry = m.half_top * rng.uniform(0.85, 1.25);

    // Pressure and moisture: negative bias thins ridges and breaks them
    // (dry, light touch); positive bias thickens them and fills valleys with
    // blobs (wet, hard press).
    const double bias = rng.uniform(-0.3, 0.3);
    const double dry = 0.08 + std::max(0.0, -bias) * 1.2;
    const double wet = 0.05 + std::max(0.0, bias) * 1.0;
    const double background = rng.uniform(0.80, 0.95);
    const double contrast = rng.uniform(0.45, 0.85);
    const double roughness = rng.uniform(0.1, 0.35);
    const double noise = rng.uniform(0.012, 0.04);

    const ValueNoise ragged(rng, m.width, m.height, 24.0);
    const ValueNoise moisture(rng, w, h, 36.0);
    const ValueNoise speckle(rng, w, h, 4.0);
    const ValueNoise light(rng, w, h, 110.0);
    const ValueNoise rough(rng, w, h, 2.5); // ragged ridge edges, pores

    std::vector<double> out(static_cast<size_t>(w) * h);
    for (int v = 0; v < h; ++v) {
        for (int u = 0; u < w; ++u) {
            double px = u + 0.5 - w * 0.5;
            double py = v + 0.5 - h * 0.5;
            // Distort around the contact core, in window coordinates.
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
            const double mx = px + ox;
            const double my = py + oy;

            const double cxn = (mx - contact_x) / contact_rx;
            const double cyn = (my - contact_y) / contact_ry;
            const double cr = std::sqrt(cxn * cxn + cyn * cyn) + 0.08 * ragged.at(mx, my);
            const double pressed = smoothstep01((1.0 - cr) * 6.0) * m.inside(mx, my);

            double b = bias + 0.15 * moisture.at(u, v) + roughness * rough.at(u, v);
            const double s = speckle.at(u, v);
            if (s < -0.35)
                b -= dry * (-0.35 - s) * 2.0;
            else if (s > 0.6)
                b += wet * (s - 0.6) * 2.5;
            const double ink = smoothstep01(0.5 + 0.9 * (m.ridge_at(mx, my) + b));

            const double level = background + 0.04 * light.at(u, v);
            out[static_cast<size_t>(v) * w + u] = level - contrast * pressed * ink + noise * rng.gaussish();
        }
    }
    return out;
}

namespace {

template <typename T>
void quantise(const std::vector<double>& in, T* out, double top)
{
    for (size_t i = 0; i < in.size(); ++i)
        out[i] = static_cast<T>(std::lround(std::clamp(in[i], 0.0, 1.0) * top));
}

} // namespace

Impression render_impression(uint32_t seed, int finger, int impression, int w, int h)
{
    const auto level = render_intensity(seed, finger, impression, w, h);
    Impression img;
    img.width = w;
    img.height = h;
    img.pixels.resize(level.size());
    quantise(level, img.pixels.data(), 255.0);
    return img;
}

Frame12 render_impression12(uint32_t seed, int finger, int impression)
{
    const auto level = render_intensity(seed, finger, impression, kFrameSide, kFrameSide);
    Frame12 img{};
    quantise(level, img.data(), 4095.0);
    return img;
}

Frame render_frame(uint32_t seed, int finger, int impression)
{
    const Frame12 img = render_impression12(seed, finger, impression);
    return pack_frame(img.data());
}

Image render_master(uint32_t seed, int finger, int w, int h)
{
    const Master m = make_master(seed, finger, w, h);
    Image img;
    img.width = w;
    img.height = h;
    img.pixels.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double ink = smoothstep01(0.5 + 0.9 * m.ridge_at(x, y));
            const double depth = 0.35 + 0.6 * m.inside(x, y);
            img.pixels[static_cast<size_t>(y) * w + x] =
                static_cast<uint8_t>(std::lround((1.0 - depth * ink) * 255.0));
        }
    return img;
}

} // namespace fpgen

// Synthetic fingerprints for the emulated sensor, the tests and the demo.
//
// A finger is identified by (seed, finger). Its master print is grown once
// from noise by iterated oriented Gabor filtering along an orientation field
// built from singular points (arch, tented arch, loops, whorl). An impression
// (seed, finger, impression) places, twists, presses and soils that master and
// renders it at 500 dpi.
//
// A style (below) says how distinct the fingers are and how hard their
// captures; the default gives fingers a matcher finds as distinct as real
// ones, captured about as hard as real sets are.
//
// Every function is deterministic: the same arguments give byte-identical
// pixels on every machine and build. All functions are thread-safe; the 32
// most recently used masters are cached, so successive impressions of one
// finger only pay for the warp.
//
// Fingers and impressions are numbered from 0, here, on the command line and
// by the emulated sensor alike. Any non-negative number is valid: there is no fixed population. Invalid
// arguments (negative numbers, sizes outside 1..kMaxSide) throw
// std::invalid_argument.
//
// Typical costs on one core, in either style: growing a master about
// 40-60 ms (once per finger), rendering a 96x96 impression from it about 1 ms.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fpgen {

constexpr int kFrameSide = 96;                           // sensor image side
constexpr size_t kFramePixels = kFrameSide * kFrameSide; // 9216
constexpr size_t kFrameBytes = 13824;                    // packed 12-bit frame
constexpr int kMaxSide = 4096;                           // largest rendered side
constexpr uint32_t kDefaultSeed = 2547;

enum class PatternClass { Arch, TentedArch, LeftLoop, RightLoop, Whorl };
const char *pattern_name(PatternClass cls);

// The knob that makes captures easier or harder.
//  easy    the first model, kept pixel for pixel: smooth masters, every
//          capture close to the core and gently pressed. Genuine captures
//          almost always match, and different fingers look alike to a
//          matcher. The emulated sensor, the tests and the demo use it,
//          because they name particular fingers by number.
//  normal  fingers as distinct as real ones (irregular cores, ridge period
//          and flow that vary across and between fingers, creases and
//          scars), captured anywhere on the pad, twisted, pressed lightly or
//          hard: about as hard to match as the real sets. The default.
//  hard    the same fingers as normal, captured more carelessly still.
enum class Style { easy, normal, hard };
constexpr Style kDefaultStyle = Style::normal;
const char *style_name(Style style);
// "easy", "normal" or "hard"; false for anything else.
bool parse_style(const char *text, Style &style);

// 8-bit grayscale, row-major, ridges dark on a light background.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};
using Impression = Image;

using Frame = std::array<uint8_t, kFrameBytes>;
using Frame12 = std::array<uint16_t, kFramePixels>;

// The class the finger's master is drawn from.
PatternClass pattern_class(uint32_t seed, int finger, Style style = kDefaultStyle);

// One impression of a finger, w x h pixels at 500 dpi.
Impression render_impression(uint32_t seed, int finger, int impression, int w, int h, Style style = kDefaultStyle);

// The same impression at the sensor's size as 12-bit samples (0..4095, same
// polarity as the 8-bit images), and packed as the sensor sends it.
Frame12 render_impression12(uint32_t seed, int finger, int impression, Style style = kDefaultStyle);
Frame render_frame(uint32_t seed, int finger, int impression, Style style = kDefaultStyle);

// A fresh (uncached) master of any size, as an image: the clean ridge pattern
// over the whole canvas, darkened inside the finger's outline.
Image render_master(uint32_t seed, int finger, int w, int h, Style style = kDefaultStyle);

// Sensor frame layout: 96 rows of 144 bytes; each row holds four 36-byte
// blocks, block r carrying columns r, r+4, ..., r+92; a block packs its 24
// samples two per three bytes (high byte of the first, high byte of the
// second, then their low nibbles, first one in the upper half). Samples above
// 4095 are clamped.
Frame pack_frame(const uint16_t img12[kFramePixels]);
void unpack_frame(const uint8_t frame[kFrameBytes], uint16_t img12[kFramePixels]);

// `fingers` rows of `impressions` tiles (tile x tile pixels each), 4-pixel
// white gaps: fingers 0.. in rows, impressions 0.. in columns.
Image contact_sheet(uint32_t seed, int fingers, int impressions, int tile, Style style = kDefaultStyle);

} // namespace fpgen

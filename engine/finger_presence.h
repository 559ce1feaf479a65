// Whether a raw frame shows a finger. A real sensor sends frames with
// nothing on it (a touch too light, a finger-down event from a stray
// charge), and its fixed pattern (column offsets, dead pixels, read noise)
// looks like texture to the matching library, which then makes a template
// out of the bare sensor: a "finger" that matches every empty frame. So a
// frame is only handed on when enough of it carries texture that the fixed
// pattern cannot make.
#pragma once

#include <cstdint>

// A finger covers at least this share of the window. A bare sensor, even
// with strong column offsets, shows none; the driest and faintest crops of
// real optical and capacitive prints, widened to 12 bits, rarely fall below
// 0.2, so the bar sits below that: a light touch is asked again, never a
// dry finger refused.
inline constexpr double VL_MIN_FINGER_COVERAGE = 0.15;

// The share (0..1) of the window's 8 x 8 blocks that show ridge texture:
// each column's own mean is taken out first (column offsets), and a block's
// spread is its interquartile range (a dead pixel or two do not count).
// samples: 96 x 96 12-bit samples, row by row.
double fingerCoverage(const uint16_t *samples);

inline bool fingerPresent(const uint16_t *samples) { return fingerCoverage(samples) >= VL_MIN_FINGER_COVERAGE; }

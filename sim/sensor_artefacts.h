// What a real sensor adds to a clean image: its own background level and
// gain, a fixed offset per column (each column has its own amplifier), a few
// dead pixels, read noise, and a finger that covers only part of the window.
// The emulated sensor applies them to every frame it sends when asked to.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/sensor_frames.h"

namespace sim {

struct Artefacts {
    // A clean image's white (4095) becomes `level`; the depth of everything
    // darker is multiplied by `gain`.
    int level = 4095;
    double gain = 1.0;
    double columnSigma = 0; // standard deviation of the per-column offsets, in counts
    double noiseSigma = 0;  // read noise per pixel and frame, in counts
    int deadPixels = 0;     // stuck at 0 or at 4095, at fixed places
    bool half = false;      // the finger covers only the window's left half

    bool any() const;
    // Applies them to 96 x 96 12-bit samples; frame numbers the frame, so that
    // the noise differs from frame to frame but every run is the same.
    void apply(uint16_t *samples, int frame) const;
    // "level=4095 gain=1 columns=0 noise=0 dead=0 half=0"
    std::string describe() const;
};

// Parses "level L", "gain G", "columns SIGMA", "noise SIGMA", "dead N",
// "half on|off" and "none" (all back to a clean sensor) into a; throws
// std::invalid_argument for anything else.
void parseArtefacts(const std::string &words, Artefacts &a);

} // namespace sim

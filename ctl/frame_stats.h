// What a raw frame looks like in numbers: its level, its spread, how much of
// it carries ridges and whether a finger seems to be on the sensor.
#pragma once

#include <cstdint>

#include "protocol/sensor_frames.h"

struct FrameStats {
    int min = 0;
    int max = 0;
    double mean = 0;
    // Share (0..1) of pixels clearly darker than their neighbourhood: ridges
    // are dark on this sensor's light background.
    double ridgeShare = 0;
    // Share (0..1) of the window's 8 x 8 blocks that carry ridge texture, as
    // the daemon measures it before it makes a template.
    double coverage = 0;
    bool fingerPresent = false;
};

// samples: 96 x 96 12-bit samples, row by row.
FrameStats frameStats(const uint16_t *samples);

// The partial terms of one comparison, kept so that a score can explain
// itself (the tool prints and draws them).
#pragma once

namespace fpalg {

struct ScoreParts {
    int view = -1;                 // stored view the probe landed on
    int angle_deci = 0;            // probe rotation, tenths of a degree
    int dy = 0, dx = 0;            // probe pixel p lies on view pixel p + (dy, dx)
    float peak = 0.0f;             // coarse correlation peak
    int overlap_px = 0;            // pixels valid in both
    int union_px = 0;              // of those, pixels seen on other views of the frame
    float ncc = 0.0f;              // correlation over the whole overlap
    int blocks = 0;                // blocks compared
    int good_blocks = 0;           // blocks whose local correlation is convincing
    float block_ncc = 0.0f;        // mean local correlation of compared blocks
    float rigid_block_ncc = 0.0f;  // the same before the blocks followed the skin's stretch
    int minutiae_stored = 0;       // minutiae of each image in the common area
    int minutiae_probe = 0;
    int minutiae_paired = 0;      // found at the same place in both
    float ambiguity = 0.0f;       // larger of the two images' self-similarity
    bool detail_checked = false;  // minutiae were looked for
    int flow_cells = 0;           // cells where ridge direction and spacing were compared
    float flow_direction = 0.0f;  // agreement of the ridge direction, -1..1
    float flow_spacing = 1.0f;    // relative difference of the ridge spacing, 0..1
    float runner_up_raw = 0.0f;   // evidence of the best verified alignment at another pose
    float rigid_raw = 0.0f;       // evidence before minutiae were looked at
    bool staged = false;          // the elastic fit ran, so the learned stage weighs the terms
    float hand_raw = 0.0f;        // the hand-made combination of the terms (registration's strength)
    // Combined evidence before calibration: while alignments are compared,
    // the hand-made one; at the end, the learned stage's.
    float raw = 0.0f;
    int score = 0;  // calibrated score, 0..100
};

}  // namespace fpalg

// The last stage of a comparison: weighs every term measured at the best
// alignment (the hand-made evidence among them) into the raw evidence the
// score scale is fitted on. The weights are a logistic regression trained
// on genuine and impostor pairs of the image sets (bench/fpalg_learn.py
// writes learned_weights.h). Its log-odds are put back on the scale of the
// hand-made evidence (the log-odds that evidence alone gives map to itself),
// so the other terms act as factors on it.
#pragma once

#include "score_parts.h"

namespace fpalg {

// Natural logarithm (x > 0) and exponential from fixed series, the same on
// every CPU and C library.
double fixed_log(double x);
double fixed_exp(double x);

// The stage's inputs, in the order of the weights.
void learned_inputs(const ScoreParts &parts, float *inputs);

// Raw evidence for calibrated_score() (reads hand_raw, not raw); 0 for a
// comparison that never reached the elastic fit (no alignment with evidence
// worth a look).
float learned_evidence(const ScoreParts &parts);

}  // namespace fpalg

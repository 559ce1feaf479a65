#include "learned_stage.h"

#include <algorithm>
#include <cmath>

#include "learned_weights.h"
#include "params.h"

namespace fpalg {

double fixed_log(double x) {
    int e = 0;
    double m = std::frexp(x, &e);  // x = m 2^e, m in [1/2, 1)
    if (m < 0.70710678118654752) {
        m *= 2.0;
        --e;
    }
    // log m = 2 atanh s, |s| <= 0.172: eight terms reach 1e-14.
    const double s = (m - 1.0) / (m + 1.0), s2 = s * s;
    double sum = 0.0;
    for (int k = 15; k >= 1; k -= 2) sum = sum * s2 + 1.0 / k;
    return 2.0 * s * sum + e * 0.69314718055994531;
}

double fixed_exp(double x) {
    // x = k ln 2 + r, |r| <= ln 2 / 2: eighteen terms reach 1e-16.
    const double k = std::floor(x / 0.69314718055994531 + 0.5);
    const double r = x - k * 0.69314718055994531;
    double sum = 1.0;
    for (int n = 18; n >= 1; --n) sum = 1.0 + sum * r / n;
    return std::ldexp(sum, static_cast<int>(k));
}

namespace {

float flog(float x) { return static_cast<float>(fixed_log(x)); }

}  // namespace

void learned_inputs(const ScoreParts &p, float *in) {
    const float disc = params::kAmbiguityWeight * p.ambiguity;
    const float b = std::max(0.0f, p.block_ncc - disc) / (1.0f - disc);
    const float rigid = p.block_ncc > 0.0f ? std::clamp(p.ncc / p.block_ncc, 0.0f, 1.0f) : 0.0f;
    const bool checked = p.detail_checked;
    const float paired = checked ? static_cast<float>(p.minutiae_paired) : 0.0f;
    const float seen = checked ? static_cast<float>(std::min(p.minutiae_stored, p.minutiae_probe)) : 0.0f;
    const float blocks = static_cast<float>(std::max(p.blocks, 1));
    using namespace learned;
    in[kLogBase] = flog(std::max(p.hand_raw, 1e-3f));
    in[kLogB] = flog(std::max(b, 0.02f));
    in[kLogRigid] = flog(std::max(rigid, 0.02f));
    in[kLogBlocks] = flog(blocks);
    in[kLogPeak] = flog(1.0f + params::kPeakWeight * std::max(p.peak, 0.0f));
    in[kGoodShare] = static_cast<float>(p.good_blocks) / blocks;
    in[kElasticGain] = p.block_ncc - p.rigid_block_ncc;
    in[kAmb] = p.ambiguity;
    in[kPairs] = flog(1.0f + paired);
    in[kPairShare] = paired / std::max(1.0f, seen);
    in[kUnpaired] = flog(1.0f + std::max(0.0f, seen - paired));
    in[kChecked] = checked ? 1.0f : 0.0f;
    in[kFlowDir] = p.flow_cells > 0 ? p.flow_direction : 0.0f;
    in[kFlowSpace] = p.flow_cells > 0 ? p.flow_spacing : 0.5f;
    in[kLogCells] = flog(1.0f + static_cast<float>(p.flow_cells));
    in[kRunner] = flog((p.runner_up_raw + 0.5f) / (p.rigid_raw + 0.5f));
    in[kUnionShare] = static_cast<float>(p.union_px) / static_cast<float>(std::max(p.overlap_px, 1));
}

float learned_evidence(const ScoreParts &p) {
    if (!p.staged) return 0.0f;
    float in[learned::kInputs];
    learned_inputs(p, in);
    // Summed in a fixed order, so the result does not depend on the compiler.
    float z = learned::kIntercept;
    for (int i = 0; i < learned::kInputs; ++i) z += learned::kWeights[i] * in[i];
    return static_cast<float>(fixed_exp(std::clamp(z, -30.0f, 30.0f)));
}

}  // namespace fpalg

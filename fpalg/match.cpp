#include "match.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "calibration.h"
#include "coarse_align.h"
#include "debug_sink.h"
#include "elastic.h"
#include "flow_agreement.h"
#include "learned_stage.h"
#include "minutiae.h"
#include "union_canvas.h"
#include "verify.h"

namespace fpalg {
namespace {

struct Workspace {
    ProbeCache probe;
    StoredRidges views;
    RidgeView canvas;
    CoarseWork coarse;
    MinutiaeLayout minutiae;  // where they were, for a debug sink
};

Workspace &workspace() {
    thread_local std::unique_ptr<Workspace> w = std::make_unique<Workspace>();
    return *w;
}

int angle_index(const ScoreParts &p) { return p.angle_deci / params::kAngleStepDeciDeg + params::kAngleCount / 2; }

// Moves every stored view of the best alignment's frame under the probe, so
// that the checks below compare the whole enrolled area the probe covers.
void place_frame(Workspace &w, const Template &stored, const ScoreParts &best) {
    union_canvas(stored, w.views, best.view, Peak{best.peak, best.dy, best.dx}, w.canvas);
}

// Lets the blocks of the best alignment follow the skin's stretch.
void check_distortion(const Workspace &w, const ProbeCache &pc, ScoreParts &best) {
    const ElasticFit f = fit_displacement(w.canvas, pc.rotated[angle_index(best)]);
    debug::elastic(f);
    best.rigid_block_ncc = best.block_ncc;
    if (f.block_ncc <= best.block_ncc) return;
    best.blocks = f.blocks;
    best.good_blocks = f.good_blocks;
    best.block_ncc = f.block_ncc;
    best.raw = raw_evidence(best);
}

// Compares the direction and spacing of the ridges cell by cell.
void check_flow(const Workspace &w, const ProbeCache &pc, ScoreParts &best) {
    const FlowAgreement f = flow_agreement(w.canvas, pc.rotated[angle_index(best)]);
    best.flow_cells = f.cells;
    best.flow_direction = f.direction;
    best.flow_spacing = f.spacing;
}

// Whether two verified alignments put the probe in clearly different places
// (alignments on different views at about the same angle may be one pose
// seen twice, so only the angle tells them apart).
bool other_pose(const ScoreParts &a, const ScoreParts &b) {
    if (std::abs(a.angle_deci - b.angle_deci) > 2 * params::kAngleStepDeciDeg) return true;
    return a.view == b.view && std::abs(a.dy - b.dy) + std::abs(a.dx - b.dx) > params::kOtherPoseShift;
}

// Counts the ridge endings and forks that both images show in one place.
void check_minutiae(Workspace &w, const ProbeCache &pc, ScoreParts &best) {
    const MinutiaeAgreement m = pair_minutiae(w.canvas, pc.rotated[angle_index(best)], &w.minutiae);
    debug::minutiae(m, w.minutiae);
    best.minutiae_stored = m.stored;
    best.minutiae_probe = m.probe;
    best.minutiae_paired = m.paired;
}

// Verifies the candidates, follows the best one's stretch, compares its
// ridge flow, checks its minutiae, weighs it all and calibrates.
ScoreParts score_candidates(Workspace &w, const Template &stored, const ProbeCache &pc,
                            const std::vector<Candidate> &cands, bool details = true) {
    ScoreParts best;
    std::vector<ScoreParts> verified;
    verified.reserve(cands.size());
    for (const Candidate &c : cands) {
        verified.push_back(verify_candidate(stored, w.views, pc, c, w.canvas));
        const ScoreParts &p = verified.back();
        debug::alignment(p);
        if (best.view < 0 || p.raw > best.raw) best = p;
    }
    for (const ScoreParts &p : verified)
        if (other_pose(p, best)) best.runner_up_raw = std::max(best.runner_up_raw, p.raw);
    if (details && best.view >= 0 && best.raw >= params::kElasticFloor) {
        best.staged = true;
        place_frame(w, stored, best);
        debug::union_canvas(w.canvas, best);
        check_distortion(w, pc, best);
        check_flow(w, pc, best);
        if (best.raw >= params::kDetailCheckFloor) {
            check_minutiae(w, pc, best);
            best.detail_checked = true;
        }
    }
    best.rigid_raw = best.raw;
    best.hand_raw = best.raw * detail_factor(best);
    best.raw = learned_evidence(best);
    best.score = calibrated_score(best.raw);
    return best;
}

}  // namespace

ScoreParts match_templates(const Template &stored, const Template &probe, bool details) {
    Workspace &w = workspace();
    ProbeCache &pc = prepare_probe(w.probe, probe.views[0]);
    w.views.reset(stored);
    std::vector<Candidate> cands = coarse_candidates(stored, w.views, pc, w.coarse);
    debug::candidates(cands);
    screen_candidates(w.views, pc, cands);
    return score_candidates(w, stored, pc, cands, details);
}

ScoreParts match_at(const Template &stored, const Template &probe, const std::vector<Candidate> &cands) {
    Workspace &w = workspace();
    ProbeCache &pc = prepare_probe(w.probe, probe.views[0]);
    for (const Candidate &c : cands) ensure_angle(pc, c.angle);
    w.views.reset(stored);
    return score_candidates(w, stored, pc, cands);
}

}  // namespace fpalg

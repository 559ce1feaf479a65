#include "match.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "calibration.h"
#include "coarse_align.h"
#include "debug_sink.h"
#include "elastic.h"
#include "minutiae.h"
#include "union_canvas.h"
#include "verify.h"

namespace fpalg {
namespace {

constexpr int kAngles = params::kAngleCount;

// Everything derived from one probe view: its ridges at every rotation and
// their spectra. Verification compares many templates with one probe, so
// this is worth keeping between calls.
struct ProbeCache {
    View source{};
    bool valid = false;
    RidgeView rotated[kAngles];
    Spectrum spectrum[kAngles];
};

struct Workspace {
    ProbeCache probe;
    RidgeView views[params::kMaxViews];
    RidgeView canvas;
    CoarseWork coarse;
    MinutiaeLayout minutiae;   // where they were, for a debug sink
};

Workspace &workspace() {
    thread_local std::unique_ptr<Workspace> w = std::make_unique<Workspace>();
    return *w;
}

bool same_view(const View &a, const View &b) { return a.level == b.level && a.mask == b.mask; }

const ProbeCache &prepare_probe(Workspace &w, const View &probe) {
    ProbeCache &c = w.probe;
    if (c.valid && same_view(c.source, probe)) return c;
    c.source = probe;
    RidgeView upright;
    decode_ridges(probe, upright);
    for (int k = 0; k < kAngles; ++k) {
        rotate_ridges(upright, angle_of(k), c.rotated[k]);
        phase_spectrum(c.rotated[k], c.spectrum[k]);
    }
    c.valid = true;
    return c;
}

// Verification of a candidate on its own view, and, when the view is
// registered with others, on the union of its frame's views under the probe.
ScoreParts verify_candidate(Workspace &w, const Template &stored, const ProbeCache &pc, const Candidate &c) {
    ScoreParts p;
    p.view = c.view;
    p.angle_deci = angle_of(c.angle);
    p.peak = c.peak.height;
    p.ambiguity = std::max(stored.views[c.view].ambiguity, pc.source.ambiguity) / 255.0f;
    verify_alignment(w.views[c.view], pc.rotated[c.angle], c.peak, p);
    p.raw = raw_evidence(p);
    // Other views cannot turn an alignment that fails on its own view into
    // a match; they only widen one that holds.
    if (p.overlap_px == 0 || p.raw < params::kUnionMinRaw) return p;
    const Peak at{c.peak.height, p.dy, p.dx};
    const int extra = union_canvas(stored, w.views, c.view, at, w.canvas);
    if (extra < params::kUnionMinExtraPx) return p;
    ScoreParts u = p;
    u.union_px = extra;
    verify_alignment(w.canvas, pc.rotated[c.angle], Peak{c.peak.height, 0, 0}, u);
    u.dy += p.dy;
    u.dx += p.dx;
    u.raw = raw_evidence(u);
    return u.raw > p.raw ? u : p;
}

int angle_index(const ScoreParts &p) { return p.angle_deci / params::kAngleStepDeciDeg + kAngles / 2; }

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

// Counts the ridge endings and forks that both images show in one place.
void check_minutiae(Workspace &w, const ProbeCache &pc, ScoreParts &best) {
    const MinutiaeAgreement m = pair_minutiae(w.canvas, pc.rotated[angle_index(best)], &w.minutiae);
    debug::minutiae(m, w.minutiae);
    best.minutiae_stored = m.stored;
    best.minutiae_probe = m.probe;
    best.minutiae_paired = m.paired;
}

}  // namespace

ScoreParts match_templates(const Template &stored, const Template &probe) {
    Workspace &w = workspace();
    const ProbeCache &pc = prepare_probe(w, probe.views[0]);
    for (int v = 0; v < stored.view_count; ++v) decode_ridges(stored.views[v], w.views[v]);
    std::vector<Candidate> cands = coarse_candidates(w.views, stored.view_count, pc.spectrum, w.coarse);
    debug::candidates(cands);
    screen_candidates(w.views, pc.rotated, cands);
    ScoreParts best;
    for (const Candidate &c : cands) {
        const ScoreParts p = verify_candidate(w, stored, pc, c);
        debug::alignment(p);
        if (best.view < 0 || p.raw > best.raw) best = p;
    }
    if (best.view >= 0 && best.raw >= params::kElasticFloor) {
        place_frame(w, stored, best);
        debug::union_canvas(w.canvas, best);
        check_distortion(w, pc, best);
        if (best.raw >= params::kDetailCheckFloor) check_minutiae(w, pc, best);
    }
    best.raw *= detail_factor(best);
    best.score = calibrated_score(best.raw);
    return best;
}

}  // namespace fpalg

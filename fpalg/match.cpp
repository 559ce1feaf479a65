#include "match.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "calibration.h"
#include "coarse_align.h"
#include "debug_sink.h"
#include "verify.h"

namespace fpalg {
namespace {

constexpr int kAngles = params::kAngleCount;

int angle_of(int k) { return (k - kAngles / 2) * params::kAngleStepDeciDeg; }

// Everything derived from one probe view: its ridges at every rotation and
// their spectra. Verification compares many templates with one probe, so
// this is worth keeping between calls.
struct ProbeCache {
    View source{};
    bool valid = false;
    RidgeView rotated[kAngles];
    Spectrum spectrum[kAngles];
    DirectionProfile profile[kAngles];
};

struct Workspace {
    ProbeCache probe;
    RidgeView views[params::kMaxViews];
    Spectrum view_spectrum;
    DirectionProfile view_profile;
    Spectrum work;
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
        phase_spectrum(c.rotated[k], c.spectrum[k], c.profile[k]);
    }
    c.valid = true;
    return c;
}

struct Candidate {
    int view, angle;
    Peak peak;
};

// The rotations whose ridge-direction histograms agree best with the view,
// in pairs for correlate_pair().
std::vector<std::array<int, 2>> likely_angle_pairs(const DirectionProfile &view, const ProbeCache &pc) {
    std::array<int, kAngles> order;
    std::array<float, kAngles> agree;
    for (int k = 0; k < kAngles; ++k) {
        order[k] = k;
        agree[k] = profile_agreement(view, pc.profile[k]);
    }
    std::partial_sort(order.begin(), order.begin() + params::kAnglesPerView, order.end(),
                      [&](int a, int b) { return agree[a] != agree[b] ? agree[a] > agree[b] : a < b; });
    std::vector<std::array<int, 2>> pairs;
    for (int i = 0; i + 1 < params::kAnglesPerView; i += 2) pairs.push_back({order[i], order[i + 1]});
    return pairs;
}

}  // namespace

ScoreParts match_templates(const Template &stored, const Template &probe) {
    Workspace &w = workspace();
    const ProbeCache &pc = prepare_probe(w, probe.views[0]);
    std::vector<Candidate> cands;
    for (int v = 0; v < stored.view_count; ++v) {
        decode_ridges(stored.views[v], w.views[v]);
        phase_spectrum(w.views[v], w.view_spectrum, w.view_profile);
        for (const auto &pair : likely_angle_pairs(w.view_profile, pc)) {
            Peak a, b;
            correlate_pair(w.view_spectrum, pc.spectrum[pair[0]], pc.spectrum[pair[1]], w.work, a, b);
            cands.push_back({v, pair[0], a});
            cands.push_back({v, pair[1], b});
        }
    }
    const auto by_peak = [](const Candidate &a, const Candidate &b) {
        if (a.peak.height != b.peak.height) return a.peak.height > b.peak.height;
        return a.view != b.view ? a.view < b.view : a.angle < b.angle;
    };
    const std::size_t keep = std::min<std::size_t>(params::kCandidates, cands.size());
    std::partial_sort(cands.begin(), cands.begin() + static_cast<long>(keep), cands.end(), by_peak);
    ScoreParts best;
    for (std::size_t i = 0; i < keep; ++i) {
        const Candidate &c = cands[i];
        ScoreParts p;
        p.view = c.view;
        p.angle_deci = angle_of(c.angle);
        p.peak = c.peak.height;
        verify_alignment(w.views[c.view], pc.rotated[c.angle], c.peak, p);
        p.raw = raw_evidence(p);
        debug::alignment(p);
        if (best.view < 0 || p.raw > best.raw) best = p;
    }
    best.score = calibrated_score(best.raw);
    return best;
}

}  // namespace fpalg

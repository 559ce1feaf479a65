// What a comparison tried, against where the probe truly lies: for the
// loss analysis of fpalg-eval (bench/fpalg_losses.py). The matcher reports
// its coarse candidates and verified alignments through the debug sink;
// the true pose (from fpalg_truth.py) is also scored as the matcher would
// score it had the search found it (the "oracle").
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "coarse_align.h"
#include "debug_sink.h"
#include "match.h"
#include "view_image.h"

namespace fpalg::bench {

// The probe's pose on one capture, in the matcher's convention.
struct TruePose {
    int angle_deci = 0;
    float dy = 0, dx = 0;
    float quality = 0;  // peak of the registration of the impressions
    int overlap_px = 0;
};

// finger, probe -> capture -> pose
using Truth = std::map<std::pair<int, int>, std::map<int, TruePose>>;

inline Truth read_truth(const std::string &path) {
    Truth t;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        int f, p, c;
        TruePose q;
        ls >> f >> p >> c >> q.angle_deci >> q.dy >> q.dx >> q.quality >> q.overlap_px;
        if (ls) t[{f, p}][c] = q;
    }
    return t;
}

class TraceSink : public debug::Sink {
public:
    std::vector<Candidate> cands;
    std::vector<ScoreParts> aligns;
    void on_candidate(const Candidate &c) override { cands.push_back(c); }
    void on_alignment(const ScoreParts &p) override { aligns.push_back(p); }
};

// Height of the phase correlation of view `v` and the probe at rotation
// `k` near the full-resolution shift (dy, dx), and where it peaks.
inline Peak peak_near(const RidgeView &v, ProbeCache &pc, int k, float dy, float dx) {
    auto w = std::make_unique<CoarseWork>();
    ensure_angle(pc, k);
    phase_spectrum(v, w->view);
    keep_band(w->view, w->band);
    spread_band(w->band, w->lanes);
    Peak a, b;
    correlate_pair(w->lanes, pc.spectrum[k], pc.spectrum[k], w->work, a, b);
    constexpr int N = params::kFftSide;
    const int cy = static_cast<int>(std::lround(dy / 2)), cx = static_cast<int>(std::lround(dx / 2));
    Peak best{-1.0f, 0, 0};
    for (int y = cy - 3; y <= cy + 3; ++y)
        for (int x = cx - 3; x <= cx + 3; ++x) {
            const float h = w->work.re[((y % N + N) % N) * N + (x % N + N) % N];
            if (h > best.height) best = {h, 2 * y, 2 * x};
        }
    best.height /= static_cast<float>(w->view.bins > 0 ? w->view.bins : 1);
    return best;
}

// The best peak of the probe at every rotation over every stored view, as
// "S,finger,probe,view,angle_deci,height,dy,dx" lines: what any order of
// the coarse search could find (bench/fpalg_search_sim.py replays them).
inline void write_surfaces(std::FILE *out, std::size_t finger, std::size_t probe_index, const Template &stored,
                           const Template &probe) {
    auto pc = std::make_unique<ProbeCache>();
    prepare_probe(*pc, probe.views[0]);
    auto w = std::make_unique<CoarseWork>();
    for (int v = 0; v < stored.view_count; ++v) {
        auto rv = std::make_unique<RidgeView>();
        decode_ridges(stored.views[v], *rv);
        phase_spectrum(*rv, w->view);
        keep_band(w->view, w->band);
        spread_band(w->band, w->lanes);
        for (int k = 0; k < params::kAngleCount; ++k) {
            ensure_angle(*pc, k);
            Peak a, b;
            correlate_pair(w->lanes, pc->spectrum[k], pc->spectrum[k], w->work, a, b);
            std::fprintf(out, "S,%zu,%zu,%d,%d,%.4f,%d,%d\n", finger, probe_index, v, angle_of(k), a.height, a.dy,
                         a.dx);
        }
    }
}

// Scores the true pose as the matcher would: on the two views that share
// the most area with the probe, at the nearest rotations tried, from the
// correlation peak nearest the true shift. views_from: capture of each view.
inline ScoreParts oracle(const Template &stored, const Template &probe, const std::vector<int> &views_from,
                         const std::map<int, TruePose> &truth, bool &reachable) {
    std::vector<std::pair<int, int>> by_overlap;  // (-overlap, view)
    for (int v = 0; v < stored.view_count; ++v) {
        const auto it = truth.find(views_from[v]);
        if (it != truth.end() && it->second.overlap_px > 0) by_overlap.push_back({-it->second.overlap_px, v});
    }
    std::sort(by_overlap.begin(), by_overlap.end());
    auto pc = std::make_unique<ProbeCache>();
    prepare_probe(*pc, probe.views[0]);
    std::vector<Candidate> cands;
    reachable = false;
    for (std::size_t i = 0; i < by_overlap.size() && i < 2; ++i) {
        const int v = by_overlap[i].second;
        const TruePose &t = truth.at(views_from[v]);
        const int k0 =
            static_cast<int>(std::lround(t.angle_deci / double(params::kAngleStepDeciDeg))) + params::kAngleCount / 2;
        RidgeView rv;
        decode_ridges(stored.views[v], rv);
        Candidate best{v, -1, Peak{-1.0f, 0, 0}};
        for (int k = k0 - 1; k <= k0 + 1; ++k) {
            if (k < 0 || k >= params::kAngleCount) continue;
            const Peak p = peak_near(rv, *pc, k, t.dy, t.dx);
            if (p.height > best.peak.height) best = {v, k, p};
        }
        if (best.angle < 0) continue;
        reachable = true;
        cands.push_back(best);
    }
    if (cands.empty()) return ScoreParts{};
    return match_at(stored, probe, cands);
}

}  // namespace fpalg::bench

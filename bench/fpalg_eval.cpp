// Quick in-process evaluation of the matcher while tuning it: enrolls the
// crops written by fpalg_crops.py the way the daemon does, scores every probe
// against every template and writes one CSV line of score terms per pair.
// The benchmark of record stays fpbench.py; this only makes iterating fast.
//
// usage: fpalg-eval PREFIX OUT.csv [FINGER_STEP [PROBE_STEP [FIRST_PROBE]]]
// (two runs with PROBE_STEP 2 and FIRST_PROBE 0 and 1 split the work in halves)
// With FPALG_EVAL_TRACE=TRACE.csv, every genuine comparison also writes what
// the matcher tried (fpalg_trace.h), and with PREFIX.truth present
// (fpalg_truth.py) how the true pose scores; fpalg_losses.py reads both.
// FPALG_EVAL_GENUINE_ONLY=1 skips the impostor pairs. FPALG_EVAL_SURFACES=S.csv
// (with the trace) also writes every genuine probe's coarse peaks at every
// rotation on every view, for bench/fpalg_search_sim.py. FPALG_EVAL_ONLY=PAIRS
// scores only the pairs listed there, one "probe_finger,probe,template" a
// line: a change to the stages after the search alters only the pairs that
// reached them (staged = 1), about one in eight, so rerunning those and
// taking the rest from a full run gives the full run's CSV in a fraction of
// its time (exactly so only while enrollment stays the same: registration
// runs the whole match too).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "create.h"
#include "fpalg_enroll.h"
#include "fpalg_trace.h"
#include "match.h"

using namespace fpalg;

namespace {

struct Finger {
    std::string name, identity;
    std::vector<std::vector<std::uint16_t>> captures, probes;
};

std::vector<std::uint16_t> widen(const unsigned char *p) {
    std::vector<std::uint16_t> v(params::kPixels);
    for (int i = 0; i < params::kPixels; ++i) v[i] = static_cast<std::uint16_t>(p[i] << 2 | p[i] >> 6);
    return v;
}

bool enroll(const Finger &f, Template &out, std::vector<int> &sources) {
    std::size_t next = 0;
    return bench::enroll_captures(
        [&](std::vector<std::uint16_t> &img) {
            if (next == f.captures.size()) return false;
            img = f.captures[next++];
            return true;
        },
        out, &sources);
}

void trace_parts(std::FILE *t, char kind, std::size_t pf, std::size_t pi, const ScoreParts &p) {
    std::fprintf(t, "%c,%zu,%zu,%d,%d,%d,%d,%.4f,%d,%.4f,%d,%d,%.4f,%.4f,%.3f,%d,%d,%d,%d,%.4f,%d\n", kind, pf, pi,
                 p.view, p.angle_deci, p.dy, p.dx, p.peak, p.overlap_px, p.ncc, p.blocks, p.good_blocks, p.block_ncc,
                 p.rigid_block_ncc, p.ambiguity, p.minutiae_stored, p.minutiae_probe, p.minutiae_paired, p.union_px,
                 p.raw, p.score);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::cerr << "usage: fpalg-eval PREFIX OUT.csv [FINGER_STEP [PROBE_STEP [FIRST_PROBE]]]\n";
        return 2;
    }
    const std::string prefix = argv[1];
    const int fstep = argc > 3 ? std::atoi(argv[3]) : 1, pstep = argc > 4 ? std::atoi(argv[4]) : 1;
    const std::size_t first = argc > 5 ? static_cast<std::size_t>(std::atoi(argv[5])) : 0;
    std::ifstream idx(prefix + ".idx");
    std::ifstream raw(prefix + ".raw", std::ios::binary);
    std::vector<Finger> fingers;
    std::string line;
    std::vector<unsigned char> crop(params::kPixels);
    for (int n = 0; std::getline(idx, line); ++n) {
        std::istringstream ls(line);
        Finger f;
        int nc = 0, np = 0;
        ls >> f.name >> f.identity >> nc >> np;
        for (int i = 0; i < nc + np; ++i) {
            raw.read(reinterpret_cast<char *>(crop.data()), params::kPixels);
            (i < nc ? f.captures : f.probes).push_back(widen(crop.data()));
        }
        if (n % fstep == 0) fingers.push_back(std::move(f));
    }
    std::vector<Template> gallery(fingers.size());
    std::vector<bool> enrolled(fingers.size());
    std::vector<std::vector<int>> sources(fingers.size());
    const char *trace_path = std::getenv("FPALG_EVAL_TRACE");
    const bool genuine_only = std::getenv("FPALG_EVAL_GENUINE_ONLY") != nullptr;
    std::FILE *trace = trace_path ? std::fopen(trace_path, "w") : nullptr;
    const char *surfaces_path = std::getenv("FPALG_EVAL_SURFACES");
    std::FILE *surfaces = trace && surfaces_path ? std::fopen(surfaces_path, "w") : nullptr;
    const bench::Truth truth = trace ? bench::read_truth(prefix + ".truth") : bench::Truth{};
    std::set<int> known;  // fingers with true poses
    for (const auto &[fp, poses] : truth) known.insert(fp.first);
    for (std::size_t i = 0; i < fingers.size(); ++i) {
        // Genuine pairs alone need no other finger enrolled.
        if (genuine_only && !known.empty() && !known.count(static_cast<int>(i * fstep))) continue;
        enrolled[i] = enroll(fingers[i], gallery[i], sources[i]);
        if (trace && enrolled[i])
            for (int v = 0; v < gallery[i].view_count; ++v)
                std::fprintf(trace, "V,%zu,%d,%d,%d\n", i * fstep, v, sources[i][v], gallery[i].views[v].frame);
        if (!enrolled[i]) std::cerr << "FTE " << fingers[i].name << "\n";
        int frames = 0;
        for (int v = 0; v < gallery[i].view_count; ++v) frames += gallery[i].views[v].frame == v;
        std::cerr << "frames " << fingers[i].name << " " << frames << "\n";
    }
    std::set<std::tuple<std::size_t, std::size_t, std::size_t>> only;
    const char *only_path = std::getenv("FPALG_EVAL_ONLY");
    if (only_path) {
        std::ifstream ol(only_path);
        std::size_t a, b, c;
        char comma;
        while (ol >> a >> comma >> b >> comma >> c) only.insert({a, b, c});
    }
    std::FILE *out = std::fopen(argv[2], "w");
    std::fprintf(out,
                 "probe_finger,probe,template,kind,view,angle,dy,dx,peak,overlap,ncc,blocks,good,block_ncc,raw,score,"
                 "amb,pamb,vamb,ms,mp,mq,rbn,union,fc,fd,fs,runner,rraw,dc,staged,hand\n");
    for (std::size_t pf = 0; pf < fingers.size(); ++pf)
        for (std::size_t pi = first; pi < fingers[pf].probes.size(); pi += pstep) {
            Template probe;
            int fg = 0;
            if (create_template(fingers[pf].probes[pi].data(), probe, fg) != CreateResult::made) {
                std::fprintf(out, "%zu,%zu,-1,rejected,,,,,,,,,,,,\n", pf, pi);
                continue;
            }
            for (std::size_t t = 0; t < fingers.size(); ++t) {
                if (!enrolled[t]) continue;
                const char *kind = t == pf                                       ? "genuine"
                                   : fingers[t].identity == fingers[pf].identity ? "same"
                                                                                 : "impostor";
                if (kind[0] == 's' || (genuine_only && t != pf)) continue;
                if (only_path && !only.count({pf, pi, t})) continue;
                bench::TraceSink sink;
                ScoreParts p;
                {
                    debug::Scope scope(trace && t == pf ? &sink : nullptr);
                    p = match_templates(gallery[t], probe);
                }
                if (trace && t == pf) {
                    // Finger numbers in the trace are those of the .idx file.
                    const std::size_t fi = pf * fstep;
                    for (const Candidate &c : sink.cands)
                        std::fprintf(trace, "C,%zu,%zu,%d,%d,%d,%d,%.4f\n", fi, pi, c.view, angle_of(c.angle),
                                     c.peak.dy, c.peak.dx, c.peak.height);
                    for (const ScoreParts &a : sink.aligns) trace_parts(trace, 'A', fi, pi, a);
                    trace_parts(trace, 'M', fi, pi, p);
                    if (surfaces) bench::write_surfaces(surfaces, fi, pi, gallery[t], probe);
                    const auto it = truth.find({static_cast<int>(fi), static_cast<int>(pi)});
                    if (it != truth.end()) {
                        bool reachable = false;
                        const ScoreParts o = bench::oracle(gallery[t], probe, sources[t], it->second, reachable);
                        if (reachable) trace_parts(trace, 'O', fi, pi, o);
                    }
                }
                if (std::getenv("FPALG_EVAL_DIAG") && t == pf) {
                    // How well would the best single capture of all 30 have done?
                    for (const auto &img : fingers[t].captures) {
                        Template one;
                        if (create_template(img.data(), one, fg) != CreateResult::made) continue;
                        const ScoreParts q = match_templates(one, probe);
                        if (q.block_ncc > p.block_ncc) p = q;
                    }
                }
                std::fprintf(
                    out,
                    "%zu,%zu,%zu,%s,%d,%d,%d,%d,%.4f,%d,%.4f,%d,%d,%.4f,%.4f,%d,%.3f,%d,%d,%d,%d,%d,%.4f,%d,%d,%.4f,"
                    "%.4f,%.4f,%.4f,%d,%d,%.4f\n",
                    pf, pi, t, kind, p.view, p.angle_deci, p.dy, p.dx, p.peak, p.overlap_px, p.ncc, p.blocks,
                    p.good_blocks, p.block_ncc, p.raw, p.score, p.ambiguity, probe.views[0].ambiguity,
                    p.view >= 0 ? gallery[t].views[p.view].ambiguity : 0, p.minutiae_stored, p.minutiae_probe,
                    p.minutiae_paired, p.rigid_block_ncc, p.union_px, p.flow_cells, p.flow_direction, p.flow_spacing,
                    p.runner_up_raw, p.rigid_raw, p.detail_checked ? 1 : 0, p.staged ? 1 : 0, p.hand_raw);
            }
        }
    std::fclose(out);
    if (trace) std::fclose(trace);
    if (surfaces) std::fclose(surfaces);
    return 0;
}

// A large impostor pool from generated fingers, for the score-scale fit
// (bench/fpalg_tailfit.py) and for comparing generated with real fingers
// (bench/fpgen_fidelity.py). The generator's default style gives fingers
// about as distinct and as hard to match as real ones; --style easy gives
// the emulated sensor's look-alike fingers, a pessimistic check of the
// threshold. Enrolls N fingers from their first impressions as the daemon
// does, renders P further impressions of each as probes, and scores every
// probe against every template, probe by probe (the matcher keeps the last
// probe's spectra per thread), each thread on its own range of probes.
//
// Output (JSON): counts, FRR at score > 45, false matches above 45, the
// impostor score histogram, one entry per probe (for resampling by probe)
// and the highest impostor raw values, enough to fit the tail.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "fpalg_enroll.h"
#include "fpgen.h"
#include "match.h"

using namespace fpalg;

namespace {

// Apart from the tests' and the emulated sensor's seed, so that the pool is
// made of fingers nothing was ever tuned or tested on.
constexpr std::uint32_t kPoolSeed = 7321;

struct Options {
    int fingers = 1000;
    int probes = 4;     // per finger: 1000 x 999 x 4 ~ 4.0 million impostor comparisons
    int captures = 30;  // impressions offered to enrollment; probes follow them
    int threads = 2;
    std::uint32_t seed = kPoolSeed;
    fpgen::Style style = fpgen::kDefaultStyle;
    double keep = 0.01;  // share of the highest impostor raw values written out
    std::string out = "fpalg_genpool.json";
};

struct ProbeResult {
    int finger = 0, impression = 0;
    bool made = false;
    std::vector<float> raw;  // per template; NaN where not enrolled
    std::vector<std::uint8_t> score;
};

std::vector<std::uint16_t> capture(std::uint32_t seed, int finger, int impression, fpgen::Style style) {
    // 12-bit sensor samples to the library's 10 bits, as the daemon does.
    const fpgen::Frame12 f = fpgen::render_impression12(seed, finger, impression, style);
    std::vector<std::uint16_t> img(f.size());
    for (std::size_t i = 0; i < f.size(); ++i) img[i] = static_cast<std::uint16_t>(f[i] >> 2);
    return img;
}

// Runs body(thread, begin, end) on `threads` threads over contiguous ranges of [0, n).
template <class Body>
void split(int threads, int n, Body body) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        const int b = static_cast<int>(static_cast<long>(n) * t / threads);
        const int e = static_cast<int>(static_cast<long>(n) * (t + 1) / threads);
        pool.emplace_back(body, t, b, e);
    }
    for (auto &th : pool) th.join();
}

[[noreturn]] void usage(const char *msg) {
    if (msg) std::fprintf(stderr, "fpalg-genpool: %s\n", msg);
    std::fprintf(stderr,
                 "usage: fpalg-genpool [--fingers N] [--probes P] [--captures C] [--threads T]\n"
                 "                     [--seed S] [--style easy|normal|hard] [--keep SHARE] [--out FILE.json]\n"
                 "  N fingers (default 1000) enrolled from impressions 0..C-1 (C default 30),\n"
                 "  P probes each (default 4) from impressions C..C+P-1, every probe scored\n"
                 "  against every template on T threads (default 2); the highest SHARE\n"
                 "  (default 0.01) of impostor raw values are written for the tail fit.\n");
    std::exit(2);
}

Options parse(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") usage(nullptr);
        if (i + 1 >= argc) usage(("missing value after " + a).c_str());
        const char *v = argv[++i];
        char *end = nullptr;
        const double x = std::strtod(v, &end);
        if (a == "--out") {
            o.out = v;
            continue;
        }
        if (a == "--style") {
            if (!fpgen::parse_style(v, o.style)) usage(("unknown style " + std::string(v)).c_str());
            continue;
        }
        if (end == v || *end) usage(("not a number: " + std::string(v)).c_str());
        if (a == "--fingers")
            o.fingers = static_cast<int>(x);
        else if (a == "--probes")
            o.probes = static_cast<int>(x);
        else if (a == "--captures")
            o.captures = static_cast<int>(x);
        else if (a == "--threads")
            o.threads = static_cast<int>(x);
        else if (a == "--seed")
            o.seed = static_cast<std::uint32_t>(x);
        else if (a == "--keep")
            o.keep = x;
        else
            usage(("unknown option " + a).c_str());
    }
    if (o.fingers < 2 || o.fingers > 65535 || o.probes < 1 || o.captures < bench::kEnrollStages || o.threads < 1 ||
        o.threads > 64 || !(o.keep > 0 && o.keep <= 1))
        usage("option out of range");
    return o;
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// CPU seconds of all threads so far: on a shared machine the wall time
// alone would overstate what a comparison costs.
double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

}  // namespace

int main(int argc, char **argv) {
    const Options o = parse(argc, argv);
    const int n = o.fingers;

    const auto t0 = std::chrono::steady_clock::now();
    std::vector<Template> gallery(n);
    std::vector<char> enrolled(n, 0);
    split(o.threads, n, [&](int, int b, int e) {
        for (int f = b; f < e; ++f) {
            int next = 0;
            enrolled[f] = bench::enroll_captures(
                [&](std::vector<std::uint16_t> &img) {
                    if (next >= o.captures) return false;
                    img = capture(o.seed, f, next++, o.style);
                    return true;
                },
                gallery[f]);
        }
    });
    const double t_enroll = since(t0);

    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = cpu_seconds();
    const int np = n * o.probes;
    std::vector<ProbeResult> results(np);
    split(o.threads, np, [&](int, int b, int e) {
        for (int p = b; p < e; ++p) {
            ProbeResult &r = results[p];
            r.finger = p / o.probes;
            r.impression = o.captures + p % o.probes;
            Template probe;
            int fg = 0;
            const auto img = capture(o.seed, r.finger, r.impression, o.style);
            r.made = create_template(img.data(), probe, fg) == CreateResult::made;
            if (!r.made) continue;
            r.raw.assign(n, std::nanf(""));
            r.score.assign(n, 0);
            for (int t = 0; t < n; ++t) {
                if (!enrolled[t]) continue;
                const ScoreParts s = match_templates(gallery[t], probe);
                r.raw[t] = s.raw;
                r.score[t] = static_cast<std::uint8_t>(std::clamp(s.score, 0, 100));
            }
        }
    });
    const double t_match = since(t1), c_match = cpu_seconds() - c1;

    // Tallies, in probe order whatever the threads did.
    const int threshold = params::kMatchThreshold;
    long gen_count = 0, gen_accept = 0, imp_count = 0, imp_above = 0, rejected = 0;
    std::vector<long> hist(101, 0);
    struct Tail {
        float raw;
        int probe, tpl;
    };
    std::vector<Tail> imps;
    for (int p = 0; p < np; ++p) {
        const ProbeResult &r = results[p];
        if (!r.made) {
            ++rejected;
            gen_count += enrolled[r.finger] ? 1 : 0;  // a rejected touch fails verification
            continue;
        }
        for (int t = 0; t < n; ++t) {
            if (!enrolled[t]) continue;
            if (t == r.finger) {
                ++gen_count;
                gen_accept += r.score[t] > threshold;
            } else {
                ++imp_count;
                imp_above += r.score[t] > threshold;
                ++hist[r.score[t]];
                imps.push_back({r.raw[t], p, t});
            }
        }
    }
    const std::size_t keep =
        std::min(imps.size(), std::max<std::size_t>(2000, static_cast<std::size_t>(std::ceil(o.keep * imps.size()))));
    const auto higher = [](const Tail &a, const Tail &b) {
        if (a.raw != b.raw) return a.raw > b.raw;
        return a.probe != b.probe ? a.probe < b.probe : a.tpl < b.tpl;
    };
    std::partial_sort(imps.begin(), imps.begin() + static_cast<long>(keep), imps.end(), higher);
    imps.resize(keep);

    std::FILE *out = std::fopen(o.out.c_str(), "w");
    if (!out) {
        std::perror(o.out.c_str());
        return 1;
    }
    const long fte = n - std::accumulate(enrolled.begin(), enrolled.end(), 0L);
    std::fprintf(out,
                 "{\n\"tool\": \"fpalg-genpool\", \"seed\": %u, \"style\": \"%s\", \"fingers\": %d, "
                 "\"probes_per_finger\": %d,\n",
                 o.seed, fpgen::style_name(o.style), n, o.probes);
    std::fprintf(out, "\"captures\": %d, \"threads\": %d, \"fte\": %ld, \"rejected_probes\": %ld,\n", o.captures,
                 o.threads, fte, rejected);
    std::fprintf(out, "\"seconds\": {\"enroll\": %.2f, \"match\": %.2f, \"match_cpu\": %.2f},\n", t_enroll, t_match,
                 c_match);
    std::fprintf(out, "\"fte_fingers\": [");
    for (int f = 0, first = 1; f < n; ++f)
        if (!enrolled[f]) {
            std::fprintf(out, "%s%d", first ? "" : ",", f);
            first = 0;
        }
    std::fprintf(out, "],\n");
    // Each finger's pattern class: look-alike impostors tend to share one.
    std::fprintf(out, "\"classes\": [");
    for (int f = 0; f < o.fingers; ++f)
        std::fprintf(out, "%s\"%s\"", f ? "," : "", fpgen::pattern_name(fpgen::pattern_class(o.seed, f, o.style)));
    std::fprintf(out, "],\n");
    std::fprintf(out, "\"genuine\": {\"count\": %ld, \"accepted\": %ld},\n", gen_count, gen_accept);
    std::fprintf(out, "\"impostor\": {\"count\": %ld, \"above_threshold\": %ld, \"histogram\": [", imp_count,
                 imp_above);
    for (int s = 0; s <= 100; ++s) std::fprintf(out, "%s%ld", s ? "," : "", hist[s]);
    std::fprintf(out, "]},\n");
    // One entry per probe: finger, impression, impostor comparisons, genuine
    // raw and score (null when the probe gave no template or its finger did
    // not enroll).
    std::fprintf(out, "\"probes\": [");
    for (int p = 0; p < np; ++p) {
        const ProbeResult &r = results[p];
        long count = 0;
        if (r.made)
            for (int t = 0; t < n; ++t) count += enrolled[t] && t != r.finger;
        std::fprintf(out, "%s\n[%d,%d,%ld,", p ? "," : "", r.finger, r.impression, count);
        if (r.made && enrolled[r.finger])
            std::fprintf(out, "%.6g,%d]", r.raw[r.finger], r.score[r.finger]);
        else
            std::fprintf(out, "null,null]");
    }
    std::fprintf(out, "],\n\"tail\": [");
    for (std::size_t i = 0; i < imps.size(); ++i)
        std::fprintf(out, "%s\n[%d,%d,%.6g]", i ? "," : "", imps[i].probe, imps[i].tpl, imps[i].raw);
    std::fprintf(out, "]\n}\n");
    if (std::fclose(out) != 0) {
        std::perror(o.out.c_str());
        return 1;
    }

    std::printf("generated pool, seed %u, style %s: %d fingers (FTE %ld), %d probes (%ld rejected)\n", o.seed,
                fpgen::style_name(o.style), n, fte, np, rejected);
    std::printf("genuine %ld: FRR at > %d %.2f %%\n", gen_count, threshold,
                gen_count ? 100.0 * (gen_count - gen_accept) / gen_count : 0.0);
    std::printf("impostor %ld: %ld above %d", imp_count, imp_above, threshold);
    int top = 100;
    while (top > 0 && hist[top] == 0) --top;
    std::printf(" (highest score %d)\n", top);
    std::printf("impostor scores from 30:");
    for (int s = 30; s <= top; ++s)
        if (hist[s]) std::printf(" %d:%ld", s, hist[s]);
    std::printf("\n");
    const double pairs = static_cast<double>(std::max(1L, imp_count + gen_count));
    std::printf("time: enroll %.1f s, match %.1f s on %d threads, %.0f %% of them busy (%.3f ms CPU per comparison)\n",
                t_enroll, t_match, o.threads, 100.0 * c_match / std::max(1e-9, t_match * o.threads),
                1000.0 * c_match / pairs);
    std::printf("wrote %s (%zu highest impostor raw values)\n", o.out.c_str(), imps.size());
    return 0;
}

// Accuracy against the sensor's column noise: generated fingers pass through
// the emulated sensor's real-sensor artefacts (background level 3000, gain
// 0.7, read noise 10 counts, 4 dead pixels) with per-column offsets of
// growing spread, then through the daemon's road: the no-finger gate, the
// 12-to-10-bit step, enrollment staged as the daemon stages it, and the
// match threshold (a score above 45).
//
//   column-noise-bench [--fingers N] [--probes P] [--out FILE.csv]
//
// For each column spread (0 to 1600 counts of 4095): how many fingers
// enrolled, the false non-match rate of their probes, the false match rate
// of every probe against every other finger's template, and the share of
// bare-sensor frames the gate let through. Deterministic: same numbers on
// every run.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/finger_presence.h"
#include "fpalg_enroll.h"
#include "fpgen.h"
#include "match.h"
#include "sim/sensor_artefacts.h"

namespace {

constexpr int CAPTURES = 30;  // impressions offered to enrollment; probes follow
constexpr int THRESHOLD = 45;

sim::Artefacts sensorWith(double columns) {
    sim::Artefacts a;
    sim::parseArtefacts("level 3000 gain 0.7 noise 10 dead 4", a);
    a.columnSigma = columns;
    return a;
}

// One capture through the sensor: false when the gate drops it. The
// emulated sensor's own fingers (the easy style), so that the figures are
// those of the sandbox with its artefacts switched on.
bool capture(const sim::Artefacts &a, int finger, int impression, std::vector<uint16_t> &img10) {
    fpgen::Frame12 f = fpgen::render_impression12(fpgen::kDefaultSeed, finger, impression, fpgen::Style::easy);
    a.apply(f.data(), impression);
    if (!fingerPresent(f.data())) return false;
    img10.resize(f.size());
    for (size_t i = 0; i < f.size(); ++i) img10[i] = static_cast<uint16_t>(f[i] >> 2);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    int fingers = 24, probes = 3;
    std::string out = "column_noise.csv";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--fingers")
            fingers = std::atoi(argv[i + 1]);
        else if (opt == "--probes")
            probes = std::atoi(argv[i + 1]);
        else if (opt == "--out")
            out = argv[i + 1];
    }
    if (fingers < 2 || probes < 1) {
        std::fprintf(stderr, "usage: column-noise-bench [--fingers N>=2] [--probes P>=1] [--out FILE.csv]\n");
        return 2;
    }
    FILE *csv = std::fopen(out.c_str(), "w");
    if (!csv) {
        std::perror(out.c_str());
        return 1;
    }
    std::fprintf(csv, "column_sigma,enrolled,fnmr,fmr,genuine,impostor,bare_passed\n");
    std::printf("%8s %9s %8s %8s %9s %9s %12s\n", "columns", "enrolled", "FNMR", "FMR", "genuine", "impostor",
                "bare passed");
    for (const double sigma : {0.0, 100.0, 200.0, 400.0, 800.0, 1600.0}) {
        const sim::Artefacts a = sensorWith(sigma);
        std::vector<fpalg::Template> gallery(fingers);
        std::vector<bool> enrolled(fingers, false);
        for (int f = 0; f < fingers; ++f) {
            int k = 0;
            enrolled[f] = fpalg::bench::enroll_captures(
                [&](std::vector<uint16_t> &img) {
                    while (k < CAPTURES)
                        if (capture(a, f, k++, img)) return true;
                    return false;
                },
                gallery[f]);
        }
        int genuine = 0, misses = 0, impostor = 0, falseMatches = 0, enrolledCount = 0;
        for (int f = 0; f < fingers; ++f) enrolledCount += enrolled[f];
        for (int f = 0; f < fingers; ++f) {
            for (int p = 0; p < probes; ++p) {
                std::vector<uint16_t> img;
                fpalg::Template probe;
                int fg = 0;
                // A probe the gate or the library refuses is a miss for its
                // own finger and no match for anyone else.
                const bool made = capture(a, f, CAPTURES + p, img) &&
                                  fpalg::create_template(img.data(), probe, fg) == fpalg::CreateResult::made;
                for (int t = 0; t < fingers; ++t) {
                    if (!enrolled[t]) continue;
                    const bool match = made && fpalg::match_templates(gallery[t], probe).score > THRESHOLD;
                    if (t == f) {
                        ++genuine;
                        misses += !match;
                    } else {
                        ++impostor;
                        falseMatches += match;
                    }
                }
            }
        }
        // The bare sensor, one frame per finger's worth of captures.
        int barePassed = 0;
        for (int i = 0; i < fingers; ++i) {
            std::vector<uint16_t> white(VL_IMG_PIXELS, 4095);
            a.apply(white.data(), i);
            barePassed += fingerPresent(white.data());
        }
        const double fnmr = genuine ? static_cast<double>(misses) / genuine : 0;
        const double fmr = impostor ? static_cast<double>(falseMatches) / impostor : 0;
        std::printf("%8.0f %5d/%-3d %8.3f %8.4f %9d %9d %8d/%-3d\n", sigma, enrolledCount, fingers, fnmr, fmr, genuine,
                    impostor, barePassed, fingers);
        std::fprintf(csv, "%.0f,%d,%.4f,%.5f,%d,%d,%d\n", sigma, enrolledCount, fnmr, fmr, genuine, impostor,
                     barePassed);
        std::fflush(stdout);
    }
    std::fclose(csv);
    return 0;
}

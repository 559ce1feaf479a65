// Times the synthetic fingerprint generator on one core, per style: growing
// a 300x300 master, the first impression of a finger (which grows its
// 336x432 master), and 96x96 impressions (sensor frames) from a cached
// master, which is what the emulated sensor does per touch. Times are the
// thread's CPU time, so other work on a shared machine does not count; the
// easy style (the first model) runs beside the default one as the reference.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "fpgen.h"

namespace {

double cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Times {
    double master, cold, warm, warm_max;
};

Times run(fpgen::Style style, int rounds, unsigned &sink) {
    const uint32_t seed = 0xBE7C4;
    std::vector<double> master;
    for (int f = 0; f < rounds; ++f) {
        const double t0 = cpu_ms();
        const fpgen::Image m = fpgen::render_master(seed, f, 300, 300, style);
        master.push_back(cpu_ms() - t0);
        sink += m.pixels[m.pixels.size() / 2];
    }
    // The first impression of a finger builds its (larger) cached master.
    std::vector<double> cold;
    for (int f = 100; f < 100 + rounds; ++f) {
        const double t0 = cpu_ms();
        sink += fpgen::render_frame(seed, f, 0, style)[0];
        cold.push_back(cpu_ms() - t0);
    }
    // Impressions of the fingers just grown (a handful, well inside the
    // master cache).
    const int fingers = std::min(rounds, 4);
    std::vector<double> warm;
    for (int i = 1; i <= 40 * rounds; ++i) {
        const double t0 = cpu_ms();
        sink += fpgen::render_frame(seed, 100 + i % fingers, i, style)[0];
        warm.push_back(cpu_ms() - t0);
    }
    return {median(master), median(cold), median(warm), *std::max_element(warm.begin(), warm.end())};
}

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    unsigned sink = 0;
    bool ok = true;
    for (const fpgen::Style style : {fpgen::Style::easy, fpgen::Style::normal}) {
        const Times t = run(style, rounds, sink);
        const char *name = fpgen::style_name(style);
        std::printf(
            "fpgen %-6s master 300x300: median %6.1f ms CPU; first impression (336x432 master): %6.1f ms; "
            "impression 96x96: median %5.2f ms, max %5.2f ms (%d runs)\n",
            name, t.master, t.cold, t.warm, t.warm_max, 40 * rounds);
        ok = ok && t.cold <= 200.0 && t.warm <= 5.0;
    }
    std::printf("fpgen speed targets (200 ms per master, 5 ms per impression): %s%s\n", ok ? "met" : "MISSED",
                sink == 1 ? " " : "");
    return ok ? 0 : 1;
}

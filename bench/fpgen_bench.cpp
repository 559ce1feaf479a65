// Times the synthetic fingerprint generator on one core: growing a 300x300
// master, and rendering 96x96 impressions (sensor frames) from a cached
// master, which is what the emulated sensor does per touch.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fpgen.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const uint32_t seed = 0xBE7C4;
    unsigned sink = 0;

    std::vector<double> master;
    for (int f = 0; f < rounds; ++f) {
        const auto t0 = Clock::now();
        const fpgen::Image m = fpgen::render_master(seed, f, 300, 300);
        master.push_back(ms_since(t0));
        sink += m.pixels[m.pixels.size() / 2];
    }

    // The first impression of a finger builds its (larger) cached master.
    std::vector<double> cold;
    for (int f = 100; f < 100 + rounds; ++f) {
        const auto t0 = Clock::now();
        sink += fpgen::render_frame(seed, f, 0)[0];
        cold.push_back(ms_since(t0));
    }

    // Impressions of the fingers just grown (a handful, well inside the
    // master cache).
    const int fingers = std::min(rounds, 4);
    std::vector<double> warm;
    for (int i = 1; i <= 40 * rounds; ++i) {
        const auto t0 = Clock::now();
        sink += fpgen::render_frame(seed, 100 + i % fingers, i)[0];
        warm.push_back(ms_since(t0));
    }

    std::printf("fpgen master 300x300:            median %7.1f ms  max %7.1f ms  (limit 1000 ms, %d runs)\n",
                median(master), *std::max_element(master.begin(), master.end()), rounds);
    std::printf("fpgen impression 96x96 (cached): median %7.2f ms  max %7.2f ms  (limit 50 ms, %zu runs)\n",
                median(warm), *std::max_element(warm.begin(), warm.end()), warm.size());
    std::printf("fpgen first impression of a finger (grows its master): median %.1f ms\n", median(cold));
    const bool ok = median(master) <= 1000.0 && median(warm) <= 50.0;
    std::printf("fpgen speed targets: %s%s\n", ok ? "met" : "MISSED", sink == 1 ? " " : "");
    return ok ? 0 : 1;
}

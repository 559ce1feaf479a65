// Templates and scores of generated fingers, as text: every template's CRC-32
// and every score, then one CRC-32 over all template bytes. Two machines that
// print the same text make the same templates, so templates move between
// them. The frames go through the daemon's own conversion (the top 10 of 12
// bits) before the library sees them.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/alg/fpalg.h"
#include "fpgen/fpgen.h"

namespace {

constexpr int kFingers = 4;
constexpr int kEnrollImpressions = 5; // merged into one template per finger
constexpr int kProbes = 3;            // later impressions, scored against every finger

using Templ = std::vector<uint8_t>;

uLong g_all = crc32(0L, Z_NULL, 0);

uLong crcOf(const Templ &t)
{
    g_all = crc32(g_all, t.data(), static_cast<uInt>(t.size()));
    return crc32(crc32(0L, Z_NULL, 0), t.data(), static_cast<uInt>(t.size()));
}

// Returns the library's result; t receives the template.
int extract(int finger, int impression, Templ &t)
{
    const fpgen::Frame12 img12 =
        fpgen::render_impression12(fpgen::kDefaultSeed, finger, impression, fpgen::Style::easy);
    std::vector<uint16_t> img(fpgen::kFramePixels * 2, 0);
    for (size_t n = 0; n < fpgen::kFramePixels; ++n)
        img[n] = static_cast<uint16_t>(img12[n] >> 2);
    std::vector<uint8_t> scratch(FPALG_SCRATCH_SIZE, 0);
    uint8_t count[FPALG_COUNT_RECORD_SIZE] = {};
    t.assign(FPALG_TEMPLATE_SIZE, 0);
    return FpAlg_CreateTemplate16(img.data(), scratch.data(), FPALG_IMAGE_SIDE, FPALG_IMAGE_SIDE, t.data(), count);
}

} // namespace

int main()
{
    printf("init %d\n", FpAlg_Init(5));
    std::vector<Templ> enrolled(kFingers);
    for (int f = 0; f < kFingers; ++f) {
        Templ merged;
        for (int i = 0; i < kEnrollImpressions; ++i) {
            Templ t;
            const int r = extract(f, i, t);
            printf("finger %d impression %d create %d crc %08lx\n", f, i, r, crcOf(t));
            if (r != 1)
                continue;
            if (merged.empty()) {
                merged = t;
                continue;
            }
            Templ out(FPALG_TEMPLATE_SIZE, 0);
            int16_t o1 = 0, o2 = 0, o3 = 0;
            const int m = FpAlg_MergeFeature(merged.data(), t.data(), out.data(), &o1, &o2, &o3);
            printf("  merge %d (%d %d %d) crc %08lx\n", m, o1, o2, o3, crcOf(out));
            if (m == 0)
                merged = out;
        }
        enrolled[f] = merged.empty() ? Templ(FPALG_TEMPLATE_SIZE, 0) : merged;
    }
    for (int p = 0; p < kFingers; ++p) {
        for (int k = 0; k < kProbes; ++k) {
            Templ probe;
            const int r = extract(p, 100 + k, probe);
            printf("probe %d.%d create %d crc %08lx scores", p, k, r, crcOf(probe));
            for (int f = 0; f < kFingers; ++f) {
                const int s = FpAlg_MatchScore(enrolled[f].data(), probe.data());
                printf(" %d", s);
                if (s > FPALG_MATCH_THRESHOLD) {
                    Templ out(FPALG_TEMPLATE_SIZE, 0);
                    int16_t o1 = 0, o2 = 0, o3 = 0;
                    const int n = FpAlg_RenewFeature(out.data(), &o1, &o2, &o3);
                    printf(" (renew %d crc %08lx)", n, crcOf(out));
                    if (n == 0)
                        enrolled[f] = out;
                }
            }
            printf("\n");
        }
    }
    printf("all templates crc %08lx\n", g_all);
    return 0;
}

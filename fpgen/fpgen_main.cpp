// vorl2547-fpgen: writes synthetic fingerprints as images, sensor frames,
// whole sets and contact sheets.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <sys/stat.h>

#include "fpgen.h"
#include "image_io.h"

namespace {

const char kUsage[] = "Usage: vorl2547-fpgen [options]\n"
                      "Writes synthetic fingerprints (500 dpi, 8-bit, ridges dark).\n"
                      "\n"
                      "One impression:\n"
                      "  --finger N --impression K [--size WxH] --out FILE\n"
                      "      FILE ending in .png is PNG, .raw the sensor's packed 12-bit 96x96\n"
                      "      frame (13824 bytes, --size ignored), anything else binary PGM.\n"
                      "A set:\n"
                      "  --batch DIR --fingers F --impressions I [--size WxH]\n"
                      "      writes DIR/<finger>_<impression>.pgm for fingers 0..F-1 and\n"
                      "      impressions 0..I-1, and DIR/README.txt\n"
                      "A contact sheet:\n"
                      "  --contact-sheet FILE [--fingers F] [--impressions I] [--size WxW]\n"
                      "      F rows (fingers 0..F-1) of I impressions, default 4 x 4 of 192x192\n"
                      "Common:\n"
                      "  --seed S        generator seed (default 2547)\n"
                      "  --style STYLE   easy (the emulated sensor's fingers: look-alike, gently\n"
                      "                  pressed), normal (as distinct and as hard to match as\n"
                      "                  real fingers; the default) or hard\n"
                      "  --help          this text\n"
                      "\n"
                      "Fingers and impressions are numbered from 0, as the sandbox's\n"
                      "place-finger N K counts them; --style easy gives its images.\n";

struct Options {
    uint32_t seed = fpgen::kDefaultSeed;
    fpgen::Style style = fpgen::kDefaultStyle;
    int finger = -1;
    int impression = -1;
    int width = 0;
    int height = 0;
    int fingers = 0;
    int impressions = 0;
    std::string out;
    std::string batch;
    std::string sheet;
};

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "vorl2547-fpgen: %s\n", message.c_str());
    std::exit(2);
}

long parse_number(const char *text, const char *what, long lo, long hi)
{
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        fail(std::string("invalid ") + what + " '" + text + "' (expected " + std::to_string(lo) + ".." +
             std::to_string(hi) + ")");
    return v;
}

void parse_size(const char *text, Options &o)
{
    const char *x = std::strchr(text, 'x');
    if (!x)
        fail(std::string("invalid size '") + text + "' (expected WxH)");
    const std::string w(text, x);
    o.width = static_cast<int>(parse_number(w.c_str(), "width", 1, fpgen::kMaxSide));
    o.height = static_cast<int>(parse_number(x + 1, "height", 1, fpgen::kMaxSide));
}

Options parse(int argc, char **argv)
{
    enum { kSeed = 1, kFinger, kImpression, kSize, kOut, kBatch, kFingers, kImpressions, kSheet, kStyle, kHelp };
    static const option longs[] = {
        {"seed", required_argument, nullptr, kSeed},
        {"finger", required_argument, nullptr, kFinger},
        {"impression", required_argument, nullptr, kImpression},
        {"size", required_argument, nullptr, kSize},
        {"out", required_argument, nullptr, kOut},
        {"batch", required_argument, nullptr, kBatch},
        {"fingers", required_argument, nullptr, kFingers},
        {"impressions", required_argument, nullptr, kImpressions},
        {"contact-sheet", required_argument, nullptr, kSheet},
        {"style", required_argument, nullptr, kStyle},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    Options o;
    int c;
    while ((c = getopt_long(argc, argv, "", longs, nullptr)) != -1) {
        switch (c) {
        case kSeed: o.seed = static_cast<uint32_t>(parse_number(optarg, "seed", 0, 4294967295L)); break;
        case kFinger: o.finger = static_cast<int>(parse_number(optarg, "finger", 0, 999999)); break;
        case kImpression: o.impression = static_cast<int>(parse_number(optarg, "impression", 0, 999999)); break;
        case kSize: parse_size(optarg, o); break;
        case kOut: o.out = optarg; break;
        case kBatch: o.batch = optarg; break;
        case kFingers: o.fingers = static_cast<int>(parse_number(optarg, "finger count", 1, 10000)); break;
        case kImpressions: o.impressions = static_cast<int>(parse_number(optarg, "impression count", 1, 1000)); break;
        case kSheet: o.sheet = optarg; break;
        case kStyle:
            if (!fpgen::parse_style(optarg, o.style))
                fail(std::string("invalid style '") + optarg + "' (expected easy, normal or hard)");
            break;
        case kHelp: std::fputs(kUsage, stdout); std::exit(0);
        default: std::fputs(kUsage, stderr); std::exit(2);
        }
    }
    if (optind < argc)
        fail(std::string("unexpected argument '") + argv[optind] + "'");
    const int modes = !o.out.empty() + !o.batch.empty() + !o.sheet.empty();
    if (modes != 1)
        fail("give exactly one of --out, --batch, --contact-sheet (see --help)");
    return o;
}

void write_or_fail(const std::string &path, const fpgen::Image &img)
{
    std::string error;
    if (!fpgen::write_image(path, img, error))
        fail(error);
}

int run_single(const Options &o)
{
    if (o.finger < 0 || o.impression < 0)
        fail("--out needs --finger N and --impression K (numbered from 0)");
    const size_t n = o.out.size();
    if (n >= 4 && (o.out.compare(n - 4, 4, ".raw") == 0 || o.out.compare(n - 4, 4, ".RAW") == 0)) {
        std::string error;
        if (!fpgen::write_raw_frame(o.out, fpgen::render_frame(o.seed, o.finger, o.impression, o.style), error))
            fail(error);
        return 0;
    }
    const int w = o.width ? o.width : fpgen::kFrameSide;
    const int h = o.height ? o.height : fpgen::kFrameSide;
    write_or_fail(o.out, fpgen::render_impression(o.seed, o.finger, o.impression, w, h, o.style));
    return 0;
}

int run_batch(const Options &o)
{
    if (o.fingers < 1 || o.impressions < 1)
        fail("--batch needs --fingers F and --impressions I");
    const int w = o.width ? o.width : 300;
    const int h = o.height ? o.height : 300;
    if (mkdir(o.batch.c_str(), 0755) != 0 && errno != EEXIST)
        fail(o.batch + ": " + std::strerror(errno));
    for (int f = 0; f < o.fingers; ++f)
        for (int i = 0; i < o.impressions; ++i)
            write_or_fail(o.batch + "/" + std::to_string(f) + "_" + std::to_string(i) + ".pgm",
                          fpgen::render_impression(o.seed, f, i, w, h, o.style));
    const std::string readme = o.batch + "/README.txt";
    FILE *f = std::fopen(readme.c_str(), "w");
    if (!f)
        fail(readme + ": " + std::strerror(errno));
    std::fprintf(f,
                 "Dataset: vorl2547-fpgen synthetic fingerprints (seed %u, style %s)\n"
                 "Files: %d x 8-bit grayscale binary PGM (P5), name = <finger>_<impression>.pgm\n"
                 "Fingers x impressions: %d x %d (fingers 0..%d, impressions 0..%d)\n"
                 "Image size (WxH): %dx%d px; resolution: 500 dpi\n"
                 "campaign: vorl2547-fpgen-%u (sets of one seed share fingers)\n",
                 static_cast<unsigned>(o.seed), fpgen::style_name(o.style), o.fingers * o.impressions, o.fingers,
                 o.impressions, o.fingers - 1, o.impressions - 1, w, h, static_cast<unsigned>(o.seed));
    if (std::fclose(f) != 0)
        fail(readme + ": write failed");
    return 0;
}

int run_sheet(const Options &o)
{
    const int fingers = o.fingers ? o.fingers : 4;
    const int impressions = o.impressions ? o.impressions : 4;
    const int tile = o.width ? o.width : 192;
    if (o.height && o.height != tile)
        fail("contact sheet tiles are square (--size WxW)");
    write_or_fail(o.sheet, fpgen::contact_sheet(o.seed, fingers, impressions, tile, o.style));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const Options o = parse(argc, argv);
    try {
        if (!o.out.empty())
            return run_single(o);
        if (!o.batch.empty())
            return run_batch(o);
        return run_sheet(o);
    } catch (const std::exception &e) {
        fail(e.what());
    }
}

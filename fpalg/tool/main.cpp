// vorl2547-fpalg: look at what the matching library does with captures.
//
//   vorl2547-fpalg extract IMAGE.pgm OUT.tpl
//   vorl2547-fpalg enroll OUT.tpl IMAGE.pgm...      (merges like the daemon's enrollment)
//   vorl2547-fpalg match STORED PROBE [--png OUT.png]
//   vorl2547-fpalg show INPUT --png OUT.png
//   vorl2547-fpalg --help
//
// STORED, PROBE and INPUT are PGM images or 28000-byte template files.
#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../engine/alg/fpalg.h"
#include "debug_sink.h"
#include "match.h"
#include "match_picture.h"
#include "pgm_image.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const char kUsage[] =
    "Usage: vorl2547-fpalg extract IMAGE.pgm OUT.tpl\n"
    "       vorl2547-fpalg enroll OUT.tpl IMAGE.pgm...\n"
    "       vorl2547-fpalg match STORED PROBE [--png OUT.png]\n"
    "       vorl2547-fpalg show INPUT --png OUT.png\n"
    "       vorl2547-fpalg --help\n"
    "\n"
    "Looks at what the matching library libfpalg does with captures.\n"
    "  extract  the template of one image\n"
    "  enroll   merges images into one template as an enrollment does\n"
    "  match    scores PROBE against STORED and prints every alignment tried;\n"
    "           --png draws the best one: decision, probe, ridges, enrolled\n"
    "           mosaic, agreement and a legend\n"
    "  show     draws every view of a template\n"
    "STORED, PROBE and INPUT are binary PGM images (96 x 96 or larger, centre\n"
    "cut) or 28000-byte template files such as the daemon stores.\n"
    "Exit status: 0 done (match: whatever the score), 1 a file could not be\n"
    "read, used or written, 2 bad usage.\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

bool write_file(const std::string &path, const Bytes &b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
    return static_cast<bool>(f);
}

// A template from a PGM (extracted) or from a template file (as stored).
// `image` receives the pixels when the file is an image.
bool load(const std::string &path, Bytes &tpl, std::vector<std::uint16_t> *image = nullptr) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return false;
    }
    Bytes head(2);
    f.read(reinterpret_cast<char *>(head.data()), 2);
    tpl.assign(FPALG_TEMPLATE_SIZE, 0);
    if (head[0] == 'P' && head[1] == '5') {
        std::vector<std::uint16_t> pixels;
        const std::string err = fpalg_tool::read_pgm(path, pixels);
        if (!err.empty()) {
            std::fprintf(stderr, "%s\n", err.c_str());
            return false;
        }
        Bytes scratch(FPALG_SCRATCH_SIZE), record(FPALG_COUNT_RECORD_SIZE);
        const int r = FpAlg_CreateTemplate16(pixels.data(), scratch.data(), 96, 96, tpl.data(), record.data());
        if (image) *image = pixels;
        if (r != 1) std::fprintf(stderr, "%s: capture rejected (%d)\n", path.c_str(), r);
        return r == 1;
    }
    f.seekg(0);
    f.read(reinterpret_cast<char *>(tpl.data()), FPALG_TEMPLATE_SIZE);
    return true;
}

bool decode(const std::string &path, const Bytes &b, fpalg::Template &t) {
    if (fpalg::decode_template(b.data(), t)) return true;
    std::fprintf(stderr, "%s: not a valid template\n", path.c_str());
    return false;
}

// Prints the coarse alignments the matcher found and every one it verified.
class PrintSink : public fpalg::debug::Sink {
public:
    void on_candidate(const fpalg::Candidate &c) override {
        std::printf("  coarse view %d angle %+.1f shift (%d,%d) peak %.3f\n", c.view, fpalg::angle_of(c.angle) / 10.0,
                    c.peak.dy, c.peak.dx, c.peak.height);
    }
    void on_alignment(const fpalg::ScoreParts &p) override {
        std::printf(
            "  candidate view %d angle %+.1f shift (%d,%d) peak %.3f overlap %d ncc %.3f blocks %d/%d "
            "block ncc %.3f ambiguity %.2f raw %.2f\n",
            p.view, p.angle_deci / 10.0, p.dy, p.dx, p.peak, p.overlap_px, p.ncc, p.good_blocks, p.blocks, p.block_ncc,
            p.ambiguity, p.raw);
    }
};

int cmd_extract(int argc, char **argv) {
    Bytes t;
    if (argc != 2) return usage();
    if (!load(argv[0], t)) return 1;
    return write_file(argv[1], t) ? 0 : 1;
}

int cmd_enroll(int argc, char **argv) {
    if (argc < 2) return usage();
    Bytes last;
    for (int i = 1; i < argc; ++i) {
        Bytes t;
        if (!load(argv[i], t)) continue;
        if (last.empty()) {
            last = t;
            continue;
        }
        Bytes out(FPALG_TEMPLATE_SIZE);
        std::int16_t views = 0, why = 0, unused = 0;
        const int r = FpAlg_MergeFeature(last.data(), t.data(), out.data(), &views, &why, &unused);
        std::printf("%s: %s (%d views)\n", argv[i], r == 0 ? "merged" : "refused", r == 0 ? views : 0);
        if (r == 0) last = out;
    }
    return !last.empty() && write_file(argv[0], last) ? 0 : 1;
}

int cmd_match(const std::vector<std::string> &args, const std::string &png) {
    if (args.size() != 2) return usage();
    Bytes stored, probe;
    std::vector<std::uint16_t> capture;
    fpalg::Template s, p;
    if (!load(args[0], stored) || !load(args[1], probe, &capture) || !decode(args[0], stored, s) ||
        !decode(args[1], probe, p))
        return 1;
    PrintSink sink;
    fpalg::ScoreParts parts;
    {
        fpalg::debug::Scope scope(&sink);
        parts = fpalg::match_templates(s, p);
    }
    if (parts.minutiae_stored + parts.minutiae_probe > 0)
        std::printf("best: view %d, minutiae %d enrolled, %d probe, %d at the same place\n", parts.view,
                    parts.minutiae_stored, parts.minutiae_probe, parts.minutiae_paired);
    if (parts.staged)
        std::printf(
            "ridge flow over %d cells: direction %.2f, spacing apart %.2f; best other pose raw %.2f\n"
            "raw %.2f by hand, %.2f weighed by the learned stage\n",
            parts.flow_cells, parts.flow_direction, parts.flow_spacing, parts.runner_up_raw, parts.hand_raw, parts.raw);
    std::printf("score %d (library call: %d; above %d is a match)\n", parts.score,
                FpAlg_MatchScore(stored.data(), probe.data()), FPALG_MATCH_THRESHOLD);
    if (!png.empty() && !fpalg_tool::draw_match(s, p, parts, capture, FPALG_MATCH_THRESHOLD, png)) {
        std::fprintf(stderr, "cannot write %s\n", png.c_str());
        return 1;
    }
    return 0;
}

int cmd_show(const std::vector<std::string> &args, const std::string &png) {
    Bytes b;
    fpalg::Template t;
    if (args.size() != 1 || png.empty()) return usage();
    if (!load(args[0], b) || !decode(args[0], b, t)) return 1;
    for (int v = 0; v < t.view_count; ++v)
        std::printf("view %d: frame %d pose %+.1f deg (%.1f, %.1f) ambiguity %.2f origin %s hits %d\n", v,
                    t.views[v].frame, t.views[v].pose_angle_deci / 10.0, t.views[v].pose_ty_eighths / 8.0,
                    t.views[v].pose_tx_eighths / 8.0, t.views[v].ambiguity / 255.0,
                    t.views[v].origin ? "renewal" : "enrollment", t.views[v].hits);
    return fpalg_tool::draw_template(t, png) ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    const std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    FpAlg_Init(5);
    if (cmd == "extract") return cmd_extract(argc - 2, argv + 2);
    if (cmd == "enroll") return cmd_enroll(argc - 2, argv + 2);
    std::string png;
    static const option opts[] = {{"png", required_argument, nullptr, 'p'}, {nullptr, 0, nullptr, 0}};
    optind = 2;
    for (int c; (c = getopt_long(argc, argv, "", opts, nullptr)) != -1;) {
        if (c != 'p') return usage();
        png = optarg;
    }
    const std::vector<std::string> rest(argv + optind, argv + argc);
    if (cmd == "match") return cmd_match(rest, png);
    if (cmd == "show") return cmd_show(rest, png);
    return usage();
}

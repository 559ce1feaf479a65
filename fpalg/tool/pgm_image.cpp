#include "pgm_image.h"

#include <cctype>
#include <fstream>
#include <iterator>

namespace fpalg_tool {
namespace {

constexpr int kSide = 96;

// Next header number, skipping white space and # comments.
bool header_number(const std::vector<unsigned char> &d, std::size_t &pos, long &out) {
    while (pos < d.size()) {
        if (d[pos] == '#') {
            while (pos < d.size() && d[pos] != '\n') ++pos;
        } else if (std::isspace(d[pos])) {
            ++pos;
        } else {
            break;
        }
    }
    if (pos >= d.size() || !std::isdigit(d[pos])) return false;
    out = 0;
    while (pos < d.size() && std::isdigit(d[pos]) && out < 1000000) out = out * 10 + (d[pos++] - '0');
    return true;
}

}  // namespace

std::string read_pgm(const std::string &path, std::vector<std::uint16_t> &image) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return "cannot open " + path;
    const std::vector<unsigned char> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (d.size() < 2 || d[0] != 'P' || d[1] != '5') return path + ": not a binary PGM (P5)";
    std::size_t pos = 2;
    long w = 0, h = 0, maxval = 0;
    if (!header_number(d, pos, w) || !header_number(d, pos, h) || !header_number(d, pos, maxval) || maxval < 1 ||
        maxval > 65535)
        return path + ": bad PGM header";
    ++pos;  // the single white space after maxval
    const long bytes = maxval > 255 ? 2 : 1;
    if (w < kSide || h < kSide) return path + ": smaller than 96 x 96";
    if (pos > d.size() || static_cast<long>(d.size() - pos) < w * h * bytes) return path + ": truncated";
    const long y0 = (h - kSide) / 2, x0 = (w - kSide) / 2;
    image.assign(kSide * kSide, 0);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const std::size_t i = pos + static_cast<std::size_t>(((y0 + y) * w + x0 + x) * bytes);
            const long v = bytes == 2 ? (d[i] << 8 | d[i + 1]) : d[i];
            image[y * kSide + x] = static_cast<std::uint16_t>(v * 1023 / maxval);
        }
    return "";
}

}  // namespace fpalg_tool

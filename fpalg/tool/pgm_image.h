// A tiny reader for binary PGM (P5) files of 8 or 16 bits, turned into the
// library's 96 x 96 image of 10-bit samples the way the daemon does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fpalg_tool {

// Reads `path` into `image` (9216 samples, 0..1023). A larger image is
// cropped around its centre; a smaller one is refused. Returns an error
// text, empty on success.
std::string read_pgm(const std::string &path, std::vector<std::uint16_t> &image);

}  // namespace fpalg_tool

// Turning pictures into raw sensor frames for "place".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Reads an 8-bit binary PGM (P5) of at least 96 x 96 pixels, cuts the centre
// 96 x 96 and packs it as a 13824-byte frame (v -> v * 4095 / 255). Throws
// std::runtime_error with the reason on a malformed or too small file.
std::vector<uint8_t> frameFromPgm(const std::vector<uint8_t> &file);
// A raw 13824-byte frame file, or a PGM.
std::vector<uint8_t> frameFromFile(const std::string &path);

} // namespace sim

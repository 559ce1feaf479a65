// Writing the generator's images: binary PGM, PNG (libpng) and the raw
// 13824-byte sensor frame. Each returns false and fills `error` on failure.
#pragma once

#include <string>

#include "fpgen.h"

namespace fpgen {

bool write_pgm(const std::string &path, const Image &img, std::string &error);
bool write_png(const std::string &path, const Image &img, std::string &error);
bool write_raw_frame(const std::string &path, const Frame &frame, std::string &error);
// Chooses the format by the extension: .png, .raw, anything else PGM.
bool write_image(const std::string &path, const Image &img, std::string &error);

} // namespace fpgen

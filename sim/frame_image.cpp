// PGM and raw frame files for the emulated sensor.
#include "sim/frame_image.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "protocol/sensor_frames.h"

namespace sim {

namespace {

// Next header number of a PGM, skipping white space and comments.
long pgmNumber(const std::vector<uint8_t> &f, size_t &pos)
{
    for (;;) {
        while (pos < f.size() && isspace(f[pos]))
            ++pos;
        if (pos < f.size() && f[pos] == '#') {
            while (pos < f.size() && f[pos] != '\n')
                ++pos;
            continue;
        }
        break;
    }
    long value = 0;
    size_t digits = 0;
    while (pos < f.size() && isdigit(f[pos]) && digits < 9) {
        value = value * 10 + (f[pos++] - '0');
        ++digits;
    }
    if (digits == 0 || (pos < f.size() && isdigit(f[pos])))
        throw std::runtime_error("malformed PGM header");
    return value;
}

} // namespace

std::vector<uint8_t> frameFromPgm(const std::vector<uint8_t> &file)
{
    if (file.size() < 2 || file[0] != 'P' || file[1] != '5')
        throw std::runtime_error("not a binary PGM (P5)");
    size_t pos = 2;
    const long width = pgmNumber(file, pos);
    const long height = pgmNumber(file, pos);
    const long maxval = pgmNumber(file, pos);
    if (maxval <= 0 || maxval > 255)
        throw std::runtime_error("only 8-bit PGM is supported");
    if (width < VL_IMG_SIDE || height < VL_IMG_SIDE)
        throw std::runtime_error("PGM smaller than 96 x 96");
    ++pos; // the single white-space byte after maxval
    if (file.size() < pos || file.size() - pos < static_cast<size_t>(width * height))
        throw std::runtime_error("PGM pixel data truncated");

    const long x0 = (width - VL_IMG_SIDE) / 2;
    const long y0 = (height - VL_IMG_SIDE) / 2;
    std::vector<uint16_t> samples(VL_IMG_PIXELS);
    for (int y = 0; y < VL_IMG_SIDE; ++y) {
        for (int x = 0; x < VL_IMG_SIDE; ++x) {
            const long v = file[pos + static_cast<size_t>((y0 + y) * width + x0 + x)];
            samples[static_cast<size_t>(y * VL_IMG_SIDE + x)] = static_cast<uint16_t>(v * 4095 / maxval);
        }
    }
    std::vector<uint8_t> frame(VL_FRAME_SIZE);
    packFrame(samples.data(), frame.data());
    return frame;
}

std::vector<uint8_t> frameFromFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool frameSized = bytes.size() == static_cast<size_t>(VL_FRAME_SIZE);
    if (frameSized && !(bytes[0] == 'P' && bytes[1] == '5'))
        return bytes;
    try {
        return frameFromPgm(bytes);
    } catch (const std::runtime_error &) {
        if (frameSized)
            return bytes; // a raw frame that happens to start with "P5"
        throw;
    }
}

} // namespace sim
